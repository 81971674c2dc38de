#include "request_reply.h"

namespace standin {

Reply replyTo(RequestParser &parser, RequestParser::Result result, const RequestHandler &handler,
              const QHostAddress &local, quint16 port)
{
    Reply reply;
    if (result == RequestParser::Result::Refused) {
        reply.response = errorPage(parser.refusal(), parser.refusalText());
        reply.request.method = parser.method(); // a HEAD gets the head alone
        reply.close = true;
        return reply;
    }
    // llhttp takes what follows an Upgrade request for another protocol: the
    // request is answered as usual and the connection closed.
    reply.close = result == RequestParser::Result::Upgrade || !parser.keepsAlive();
    RequestDecision decision = decideRequest(parser.takeRequest(), local, port);
    reply.request = std::move(decision.request);
    switch (decision.verdict) {
    case RequestDecision::Verdict::Serve:
        reply.response = handler(reply.request);
        break;
    case RequestDecision::Verdict::Refuse:
        reply.close = true;
        [[fallthrough]];
    case RequestDecision::Verdict::Answer:
        reply.response = errorPage(decision.status, decision.explanation);
        reply.response.headers = std::move(decision.headers);
        break;
    }
    return reply;
}

} // namespace standin

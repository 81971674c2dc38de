#include "messages.h"

namespace corvane {

QString AnsweredInsteadMessage(int status, const QString &reason, const QString &location)
{
    QString answer = QString::number(status);
    if (!reason.isEmpty())
        answer += u' ' + reason;
    if (!location.isEmpty())
        answer += QStringLiteral(" (to %1)").arg(location);
    return QStringLiteral("The video site answered %1 instead of the video's info.").arg(answer);
}

QString ReplySectionTooLongMessage(QLatin1StringView section, qsizetype limitKiB)
{
    return QStringLiteral("The video site's reply has a %1 longer than %2 KiB.")
        .arg(section)
        .arg(limitKiB);
}

QString ReplyNotHttpMessage(const QString &parserReason)
{
    return QStringLiteral("The video site's reply is not a valid HTTP response (%1).")
        .arg(parserReason);
}

QString ReplyChunksDamagedMessage(const QString &parserReason)
{
    return QStringLiteral("The video site's reply has damaged chunked framing (%1).")
        .arg(parserReason);
}

QString ReplyUnreadableMessage(const QString &parserReason)
{
    return QStringLiteral("The video site's reply could not be read (%1).").arg(parserReason);
}

QString ReplyCodingUnknownMessage(const QString &coding)
{
    return QStringLiteral(
               "The video site's reply is compressed as \"%1\", which this program cannot read.")
        .arg(coding);
}

QString ReplyDecodingFailedMessage(const QString &problem)
{
    return QStringLiteral("The video site's reply could not be read: %1.").arg(problem);
}

QString LinkTooLongMessage(qsizetype length, qsizetype longest)
{
    return QStringLiteral(
               "The download link is %1 characters long; this system opens links of up to %2.")
        .arg(length)
        .arg(longest);
}

QString LinkNotOpenedMessage(const QString &reason)
{
    return QStringLiteral("The system could not open the download link: %1.").arg(reason);
}

QString ShellErrorNumber(long long number)
{
    return QStringLiteral("error %1").arg(number);
}

QString DamagedDataProblem(QLatin1StringView coding, const QString &detail)
{
    return QStringLiteral("its %1 data is damaged (%2)").arg(coding, detail);
}

} // namespace corvane

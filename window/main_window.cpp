#include "main_window.h"

#include "download_url.h"
#include "link_label.h"
#include "link_parsing.h"
#include "messages.h"

#include <QCloseEvent>
#include <QDropEvent>
#include <QFocusEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>

#include <utility>

namespace corvane {

namespace {

// The layout is kept in twips; 15 twips make one device-independent pixel.
QRect fromTwips(int left, int top, int width, int height)
{
    return QRect(left / 15, top / 15, width / 15, height / 15);
}

// Where a named font is missing, the nearest one the system has: Liberation
// Sans has Arial's metrics; nothing shares MS Sans Serif's, so after
// Microsoft Sans Serif it takes the same stand-in.
QFont fontOf(const QStringList &families, qreal points, bool bold = false, bool underline = false)
{
    QFont font;
    font.setFamilies(families);
    font.setPointSizeF(points);
    font.setBold(bold);
    font.setUnderline(underline);
    return font;
}

QFont arial(qreal points, bool bold = false)
{
    return fontOf({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")}, points, bold);
}

QFont msSansSerif(qreal points, bool bold = false, bool underline = false)
{
    return fontOf({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                   QStringLiteral("Liberation Sans")},
                  points, bold, underline);
}

// Far beyond any real link; QLineEdit's own limit of 32767 would cut a long
// paste silently.
constexpr int kMaxLinkLength = 1024 * 1024;

void useHighlightColour(QWidget *widget)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::Highlight));
    widget->setPalette(palette);
}

QLabel *makeLabel(QLabel *label, const QRect &geometry, const QFont &font, Qt::Alignment alignment)
{
    label->setGeometry(geometry);
    label->setFont(font);
    label->setAlignment(alignment);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

// What a drag from another program (a browser's address bar, a file
// manager, a mail) brings as a link: its first URL as it was written, escapes
// and all (QUrl, and QMimeData's text made from it, would decode them or
// change their case), or else its text. Null when it brings neither.
QString droppedLink(const QDropEvent *event)
{
    const QMimeData *data = event->mimeData();
    // A URI list (RFC 2483) holds one URI a line, ASCII, with comment lines.
    const QList<QByteArray> lines = data->data(QStringLiteral("text/uri-list")).split('\n');
    for (const QByteArray &line : lines) {
        const QByteArray uri = line.trimmed();
        if (!uri.isEmpty() && !uri.startsWith('#'))
            return QString::fromLatin1(uri);
    }
    return data->hasText() ? data->text() : QString();
}

} // namespace

Corvane_Downloader::Corvane_Downloader(QWidget *parent)
    : Corvane_Downloader(LifecycleCalls::platform(), parent)
{
}

Corvane_Downloader::Corvane_Downloader(LifecycleCalls calls, QWidget *parent)
    : QWidget(parent)
    , calls_(std::move(calls))
{
    Form_Initialize();
    createControls();
    Form_Load();
}

Corvane_Downloader::~Corvane_Downloader()
{
    // The command first, then the socket it drives, while the state and the
    // window they use are still whole; ~QWidget would delete them only after
    // both.
    delete std::exchange(command_, nullptr);
    delete std::exchange(Winsock, nullptr);
    Form_Terminate();
}

void Corvane_Downloader::createControls()
{
    setObjectName(QStringLiteral("Corvane_Downloader"));
    setWindowTitle(QStringLiteral("Corvane Downloader"));
    QIcon icon;
    for (const int size : {16, 32, 48})
        icon.addFile(QStringLiteral(":/corvane/corvane-%1.png").arg(size), QSize(size, size));
    setWindowIcon(icon);
    setFont(arial(8.25));
    setFixedSize(690, 274);

    txtRequest = new QLineEdit(QString(kPlaceholderText), this);
    txtRequest->setObjectName(QStringLiteral("txtRequest"));
    txtRequest->setGeometry(fromTwips(960, 1440, 6615, 510));
    txtRequest->setFont(msSansSerif(12));
    txtRequest->setAccessibleName(QStringLiteral("Video link"));
    txtRequest->setMaxLength(kMaxLinkLength);
    txtRequest->installEventFilter(this);

    Command1 = new QPushButton(QStringLiteral("Download"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(fromTwips(7680, 1440, 1935, 495));
    Command1->setFont(msSansSerif(12, true));
    Command1->setAutoDefault(false);
    Command1->setDefault(false);

    Winsock = new TcpSocket(this);
    Winsock->setObjectName(QStringLiteral("Winsock"));
    command_ = new DownloadCommand(state_, *Winsock, *this, this);
    connect(Command1, &QPushButton::clicked, this, &Corvane_Downloader::pressDownload);
    Command1->installEventFilter(this);

    Frame1 = new QGroupBox(this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setGeometry(fromTwips(600, 1080, 9255, 1095));
    Frame1->setFocusPolicy(Qt::NoFocus);
    Frame1->lower(); // behind the text box and the button, which take its clicks

    Label4 = makeLabel(new QLabel(this), fromTwips(600, 840, 7215, 375), arial(9.75),
                       Qt::AlignLeft | Qt::AlignTop);
    Label4->setObjectName(QStringLiteral("Label4"));
    Label4->setText(QStringLiteral("Copy the video link and paste it here then click download"));

    Label3 = makeLabel(new QLabel(this), fromTwips(2160, 120, 6015, 495), arial(15.75, true),
                       Qt::AlignHCenter | Qt::AlignTop);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setText(QStringLiteral("Corvane Downloader"));
    useHighlightColour(Label3);

    Label2 = makeLabel(new QLabel(this), fromTwips(2880, 2280, 4815, 735), msSansSerif(12, true),
                       Qt::AlignHCenter | Qt::AlignTop);
    Label2->setObjectName(QStringLiteral("Label2"));

    Label1 = new LinkLabel(this);
    makeLabel(Label1, fromTwips(2160, 3120, 6255, 735), msSansSerif(13.5, false, true),
              Qt::AlignHCenter | Qt::AlignTop);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setCursor(Qt::PointingHandCursor);
    useHighlightColour(Label1);
    Label1->hide();
    connect(Label1, &LinkLabel::clicked, this, &Corvane_Downloader::Label1_Click);

    // Tab order follows the tab indexes; only these three take the focus, the
    // link label while it is shown.
    setTabOrder(Command1, txtRequest);
    setTabOrder(txtRequest, Label1);
}

void Corvane_Downloader::pressDownload()
{
    // The error box is modal, yet a press can still reach the button while it
    // is open (an accessibility action, a delayed animateClick): it does
    // nothing, rather than open a second box inside the first.
    if (errorBox_)
        return;
    command_->Command1_Click();
}

QString Corvane_Downloader::RequestText() const
{
    return txtRequest->text();
}

void Corvane_Downloader::SetStatusCaption(const QString &caption)
{
    Label2->setText(caption);
    describeOutcome();
}

void Corvane_Downloader::SetLinkCaption(const QString &caption, const QString &DownloadLink)
{
    Label1->setText(caption);
    Label1->setTarget(DownloadUrl(DownloadLink));
    describeOutcome();
}

void Corvane_Downloader::SetLinkVisible(bool visible)
{
    // The focus of the hidden label goes to Download, never to the text box,
    // which would clear.
    if (!visible && Label1->hasFocus())
        Command1->setFocus(Qt::OtherFocusReason);
    Label1->setVisible(visible);
    describeOutcome();
}

void Corvane_Downloader::describeOutcome()
{
    // Screen readers speak what changes on the focused control, not on the
    // status line: the focus stays where the user pressed Download, so the
    // outcome becomes the description of the controls that can hold it then.
    QString outcome = Label2->text();
    if (!Label1->isHidden())
        outcome += u' ' + Label1->text();
    for (QWidget *control : {static_cast<QWidget *>(Command1), static_cast<QWidget *>(txtRequest)})
        control->setAccessibleDescription(outcome);
}

void Corvane_Downloader::ShowErrorBox(const QString &message)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("ERROR"), message, QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    errorBox_ = &box;
    box.exec();
}

void Corvane_Downloader::closeEvent(QCloseEvent *event)
{
    Form_Unload();
    // A box still open would keep the program running without its window.
    if (errorBox_)
        errorBox_->reject();
    event->accept();
}

bool Corvane_Downloader::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == Command1 && event->type() == QEvent::KeyPress) {
        // Enter presses the focused button, as Space does, and a held key
        // presses it once. It is not the window's default button: Enter in
        // the text box runs nothing.
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            if (!key->isAutoRepeat())
                Command1->click();
            return true;
        }
    }
    if (watched == txtRequest && event->type() == QEvent::FocusIn) {
        // Only a move of the focus within the window clears the box; the
        // focus coming back with the window, or from a closed popup such as
        // the box's own context menu, keeps what the user typed.
        switch (static_cast<QFocusEvent *>(event)->reason()) {
        case Qt::MouseFocusReason:
        case Qt::TabFocusReason:
        case Qt::BacktabFocusReason:
        case Qt::ShortcutFocusReason:
            txtRequest_GotFocus();
            break;
        case Qt::ActiveWindowFocusReason:
            // As an address bar does: the link stays, selected whole, so that
            // a paste or typing replaces it rather than adds to it.
            txtRequest->selectAll();
            break;
        default:
            break;
        }
    }
    if (watched == txtRequest
        && (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove
            || event->type() == QEvent::Drop)) {
        // A link dropped on the box takes the focus, clears the box and is
        // put in whole, as a click and a paste would do; the box alone
        // would insert it where it fell, into what was there. Text dragged
        // within the box is the box's own editing.
        auto *drop = static_cast<QDropEvent *>(event);
        const QString link = droppedLink(drop);
        if (drop->source() == txtRequest || link.isNull())
            return QWidget::eventFilter(watched, event);
        drop->acceptProposedAction();
        if (event->type() == QEvent::Drop) {
            txtRequest->setFocus(Qt::OtherFocusReason);
            txtRequest_GotFocus();
            txtRequest->insert(link);
        }
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace corvane

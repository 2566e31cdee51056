#include "App_ProgressDialog.h"
#include "ui_App_ProgressDialog.h"

#include "App_common.h"

#include <QApplication>
#include <QFile>
#include <QFontMetrics>
#include <QIcon>
#include <QStyle>

QPointer<TAppProgressDialog> AppProgressDialog;

namespace {

QPixmap Glyph(const QWidget& widget, const QIcon& icon)
{
    const int size = widget.style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, &widget);
    return icon.pixmap(QSize(size, size), widget.devicePixelRatioF());
}

QPixmap Glyph(const QWidget& widget, QStyle::StandardPixmap which)
{
    return Glyph(widget, widget.style()->standardIcon(which, nullptr, &widget));
}

// The program's own circular green-and-white picture: the style's information
// sign would read as a message, not as work going on.
QIcon ActivityIcon()
{
    QIcon icon;
    icon.addFile(QStringLiteral(":/images/activity-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/images/activity-32.png"), QSize(32, 32));
    return icon;
}

// Long names are cut in the middle so both ends of a file name stay readable;
// the tooltip keeps the whole text.
void ShowFitted(QLabel& label, const QString& text, bool fit)
{
    const int width = label.contentsRect().width();
    const QString shown = fit ? label.fontMetrics().elidedText(text, Qt::ElideMiddle, width) : text;
    label.setText(shown);
    label.setToolTip(shown == text ? QString() : text);
}

} // namespace

TAppProgressDialog::TAppProgressDialog(QWidget* parent)
    : QDialog(parent), FUi(std::make_unique<Ui::TAppProgressDialog>())
{
    FUi->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    FUi->Image1->setPixmap(Glyph(*this, ActivityIcon()));
    FUi->Image2->setPixmap(Glyph(*this, QStyle::SP_MessageBoxWarning));
    FUi->Image3->setPixmap(Glyph(*this, QStyle::SP_MessageBoxCritical));
    // The glyph column is as wide as a row is high, so the status text stays
    // in place whichever glyph shows.
    const int row = qMax(fontMetrics().height(), FUi->Image1->pixmap().deviceIndependentSize().toSize().height()) + 6;
    for (QLabel* image : {FUi->Image1, FUi->Image2, FUi->Image3})
        image->setFixedSize(row, row);
    FUi->Label1->setMinimumHeight(row);
    // Room for a name of about fifty characters before it is shortened.
    const int nameWidth = fontMetrics().horizontalAdvance(QLatin1Char('x')) * 50;
    FUi->Label3->setMinimumWidth(nameWidth);
    FUi->Label5->setMinimumWidth(nameWidth);
    connect(FUi->Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(FUi->Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    connect(FUi->Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
    ResetDisplay();
    adjustSize();
}

TAppProgressDialog::~TAppProgressDialog() = default;

void TAppProgressDialog::FireOnPause()
{
    if (OnPause)
        OnPause(*this);
}

void TAppProgressDialog::FireOnResume()
{
    if (OnResume)
        OnResume(*this);
}

void TAppProgressDialog::FireOnCancelRequest()
{
    if (OnCancelRequest)
        OnCancelRequest(*this);
}

int TAppProgressDialog::Execute()
{
    ResetDisplay();
    // A dialog keeps its last focus between runs; one left on Cancel would
    // cancel the next run at its first Space.
    FUi->Button1->setFocus(Qt::OtherFocusReason);
    if (!FFinished)
        exec();
    else
        setResult(Accepted);
    FFinished = false;
    return result();
}

void TAppProgressDialog::Finish()
{
    FFinished = true;
    if (isVisible())
        QDialog::done(Accepted);
}

void TAppProgressDialog::ResetDisplay()
{
    ShowStatus(std::string());
    ShowNames(std::string(), std::string());
    ShowProgress(0, 100);
    SetPaused(false);
}

void TAppProgressDialog::ShowStatus(const std::string& text)
{
    ShowStatusText(FUi->Image1, text);
}

void TAppProgressDialog::ShowNotice(const std::string& text)
{
    ShowStatusText(FUi->Image2, text);
}

void TAppProgressDialog::ShowFailure(const std::string& text)
{
    ShowStatusText(FUi->Image3, text);
}

void TAppProgressDialog::ShowFailureReason(const std::string& reason)
{
    FReason = QString::fromStdString(reason);
    ShowTexts();
    ShowReasonLine(!FReason.isEmpty());
}

void TAppProgressDialog::ShowNames(const std::string& program, const std::string& document)
{
    FProgram = QString::fromStdString(program);
    FDocument = QFile::decodeName(document.c_str());
    ShowTexts();
}

void TAppProgressDialog::ShowProgress(int position, int maximum)
{
    // setRange, not setMaximum: a maximum below the old minimum must not move it.
    FUi->ProgressBar->setRange(0, maximum);
    FUi->ProgressBar->setValue(position);
}

void TAppProgressDialog::FinishHandler(TTask&)
{
    Finish();
}

void TAppProgressDialog::NamesHandler(TTask&, const std::string& program, const std::string& document)
{
    ShowNames(program, document);
}

void TAppProgressDialog::PausedHandler(TTask&)
{
    SetPaused(true);
}

void TAppProgressDialog::ResumedHandler(TTask&)
{
    SetPaused(false);
}

void TAppProgressDialog::StatusHandler(TTask&, const std::string& text)
{
    ShowStatus(text);
}

void TAppProgressDialog::NoticeHandler(TTask&, const std::string& text)
{
    ShowNotice(text);
}

void TAppProgressDialog::FailureHandler(TTask&, const std::string& text)
{
    ShowFailure(text);
}

void TAppProgressDialog::FailureReasonHandler(TTask&, const std::string& reason)
{
    ShowFailureReason(reason);
}

void TAppProgressDialog::ProgressHandler(TTask&, int position, int maximum)
{
    ShowProgress(position, maximum);
}

void TAppProgressDialog::done(int result)
{
    if (FFinished) {
        QDialog::done(result);
        return;
    }
    // The run goes on until the task notices; the dialog stays up showing it.
    try {
        FireOnCancelRequest();
    } catch (...) {
        HandleCurrentException();
    }
}

void TAppProgressDialog::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    ShowTexts();
}

void TAppProgressDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    ShowTexts();
}

void TAppProgressDialog::Button1Click()
{
    try {
        FireOnPause();
    } catch (...) {
        HandleCurrentException();
    }
}

void TAppProgressDialog::Button2Click()
{
    try {
        FireOnResume();
    } catch (...) {
        HandleCurrentException();
    }
}

void TAppProgressDialog::Button3Click()
{
    reject();
}

void TAppProgressDialog::ShowImage(QLabel* image)
{
    // Show the new glyph before hiding the others, so the cell is never empty.
    image->setVisible(true);
    for (QLabel* other : {FUi->Image1, FUi->Image2, FUi->Image3})
        if (other != image)
            other->setVisible(false);
}

void TAppProgressDialog::SetPaused(bool paused)
{
    // The focus goes from the button being disabled to its counterpart, not
    // on along the tab chain, where the next Space would land on Cancel.
    QPushButton* enable = paused ? FUi->Button2 : FUi->Button1;
    QPushButton* disable = paused ? FUi->Button1 : FUi->Button2;
    const bool hadFocus = disable->hasFocus();
    enable->setEnabled(true);
    if (hadFocus)
        enable->setFocus();
    disable->setEnabled(false);
}

void TAppProgressDialog::ShowStatusText(QLabel* image, const std::string& text)
{
    ShowImage(image);
    FStatus = QString::fromStdString(text);
    FReason.clear();
    ShowTexts();
    ShowReasonLine(false);
}

// The line is there only while a reason is: the dialog grows by it and
// shrinks back, so an ordinary run keeps the dialog's designed layout.
void TAppProgressDialog::ShowReasonLine(bool shown)
{
    QLabel& line = *FUi->Label6;
    if (line.isHidden() != shown)
        return;
    const int before = height();
    line.setVisible(shown);
    layout()->activate();
    if (shown) {
        FReasonGrowth = height() - before;
    } else {
        resize(width(), std::max(minimumHeight(), height() - FReasonGrowth));
        FReasonGrowth = 0;
    }
}

void TAppProgressDialog::ShowTexts()
{
    // Before the dialog is shown its labels have no real width yet.
    const bool fit = isVisible();
    ShowFitted(*FUi->Label1, FStatus, fit);
    ShowFitted(*FUi->Label6, FReason, fit);
    ShowFitted(*FUi->Label3, FProgram, fit);
    ShowFitted(*FUi->Label5, FDocument, fit);
}

TAppProgressDialog& NeedAppProgressDialog()
{
    if (!AppProgressDialog)
        AppProgressDialog = new TAppProgressDialog(QApplication::activeWindow());
    return *AppProgressDialog;
}

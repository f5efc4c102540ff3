#include "save_on_display_loss.h"

#include "frmMain.h"

#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <stdexcept>

namespace {

// Qt's message hook is a bare function: this is what it reaches. The window is used on the main
// thread only; the handler it displaced stays valid after ours is gone.
std::atomic<frmMain*> windowToSave{nullptr};
QtMessageHandler displacedHandler = nullptr;

// Qt's xcb platform says "The X11 connection broke (error N). Did the X11 server die?", its
// Wayland platform "The Wayland connection broke. ...", each just before it calls exit().
bool saysTheDisplayIsGone(QtMsgType type, const QString& message)
{
    return type == QtWarningMsg && message.contains(QLatin1String(" connection broke"));
}

void onQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    const QCoreApplication* application = QCoreApplication::instance();
    if (saysTheDisplayIsGone(type, message) && application &&
        QThread::currentThread() == application->thread()) {
        if (frmMain* window = windowToSave.load())
            window->saveBeforeAbruptExit();
    }
    if (displacedHandler)
        displacedHandler(type, context, message);
}

} // namespace

cSaveOnDisplayLoss::cSaveOnDisplayLoss(frmMain& window)
{
    frmMain* none = nullptr;
    if (!windowToSave.compare_exchange_strong(none, &window))
        throw std::logic_error("a second cSaveOnDisplayLoss while one lives");
    displacedHandler = qInstallMessageHandler(onQtMessage);
}

cSaveOnDisplayLoss::~cSaveOnDisplayLoss()
{
    qInstallMessageHandler(displacedHandler);
    windowToSave.store(nullptr);
}

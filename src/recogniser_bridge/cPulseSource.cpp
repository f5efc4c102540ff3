#include "cPulseSource.h"

#include <pulse/pulseaudio.h>
#include <pulse/simple.h>

namespace {

constexpr int kBlockBytes = 1600; // 50 ms: a phrase's end reaches the recogniser at once

// Runs the main loop until the operation is done; false if the connection failed meanwhile.
bool finish(pa_mainloop* loop, pa_context* context, pa_operation* operation)
{
    if (!operation)
        return false;
    while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING &&
           PA_CONTEXT_IS_GOOD(pa_context_get_state(context)))
        pa_mainloop_iterate(loop, 1, nullptr);
    pa_operation_unref(operation);
    return PA_CONTEXT_IS_GOOD(pa_context_get_state(context));
}

} // namespace

cPulseSource::cPulseSource(const QString& name, QObject* parent) : QThread(parent)
{
    describe(name);
    if (!ok())
        return;
    const pa_sample_spec sampleFormat{PA_SAMPLE_S16LE, 16000, 1};
    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<uint32_t>(-1);
    attributes.fragsize = kBlockBytes;
    int error = 0;
    const QByteArray source = description_.name.toLocal8Bit();
    stream_ = pa_simple_new(nullptr, "kormil-pocketsphinx", PA_STREAM_RECORD, source.constData(),
                            "voice commands", &sampleFormat, nullptr, &attributes, &error);
    if (!stream_)
        error_ = QStringLiteral("cannot open the audio source %1: %2")
                     .arg(description_.name, QString::fromLocal8Bit(pa_strerror(error)));
}

cPulseSource::~cPulseSource()
{
    stop();
    if (stream_)
        pa_simple_free(stream_);
}

void cPulseSource::describe(const QString& name)
{
    pa_mainloop* loop = pa_mainloop_new();
    pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "kormil-pocketsphinx");
    // No autospawn: without a running audio server the user must hear why, not get a new one.
    pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr);
    while (pa_context_get_state(context) != PA_CONTEXT_READY &&
           PA_CONTEXT_IS_GOOD(pa_context_get_state(context)))
        pa_mainloop_iterate(loop, 1, nullptr);

    QByteArray wanted = name.toLocal8Bit();
    bool connected = pa_context_get_state(context) == PA_CONTEXT_READY;
    if (connected && wanted.isEmpty()) {
        connected = finish(loop, context,
                           pa_context_get_server_info(
                               context,
                               [](pa_context*, const pa_server_info* info, void* target) {
                                   if (info && info->default_source_name)
                                       *static_cast<QByteArray*>(target) =
                                           info->default_source_name;
                               },
                               &wanted));
    }
    bool found = false;
    if (connected && !wanted.isEmpty()) {
        description_.name = QString::fromLocal8Bit(wanted);
        connected = finish(loop, context,
                           pa_context_get_source_info_by_name(
                               context, wanted.constData(),
                               [](pa_context*, const pa_source_info* info, int, void* target) {
                                   if (!info)
                                       return;
                                   auto* self = static_cast<cPulseSource*>(target);
                                   self->description_.description =
                                       QString::fromLocal8Bit(info->description);
                                   self->description_.monitor =
                                       info->monitor_of_sink != PA_INVALID_INDEX;
                               },
                               this));
        found = !description_.description.isNull();
    }
    if (!connected)
        error_ = QStringLiteral("cannot reach the audio server: %1")
                     .arg(QString::fromLocal8Bit(pa_strerror(pa_context_errno(context))));
    else if (wanted.isEmpty())
        error_ = QStringLiteral("the audio server has no audio source (no microphone?)");
    else if (!found)
        error_ = QStringLiteral("no audio source named %1: %2")
                     .arg(QString::fromLocal8Bit(wanted),
                          QString::fromLocal8Bit(pa_strerror(pa_context_errno(context))));
    pa_context_disconnect(context);
    pa_context_unref(context);
    pa_mainloop_free(loop);
}

void cPulseSource::stop()
{
    stopping_ = true;
    wait();
}

void cPulseSource::run()
{
    QByteArray block(kBlockBytes, Qt::Uninitialized);
    while (!stopping_) {
        int error = 0;
        if (pa_simple_read(stream_, block.data(), static_cast<size_t>(block.size()), &error) < 0) {
            emit failed(QStringLiteral("cannot read the audio source %1: %2")
                            .arg(description_.name, QString::fromLocal8Bit(pa_strerror(error))));
            return;
        }
        emit audio(block);
    }
}

#pragma once

#include <QByteArray>
#include <QObject>
#include <QVector>
#include <cstdint>
#include <memory>

struct wl_display;
struct wl_registry;
struct wl_callback;
struct wl_registry_listener;
struct wl_callback_listener;
class QSocketNotifier;

// A connection of Kormil's own to the Wayland compositor, apart from the one the toolkit may
// have, read as the event loop finds something on it. Right after it opens it asks which
// globals the compositor offers, and tells once when it knows.
class cWaylandConnection : public QObject {
    Q_OBJECT

public:
    struct Global {
        std::uint32_t name;
        QByteArray interface;
        std::uint32_t version;
    };

    // `socket` names the compositor's socket as WAYLAND_DISPLAY does; empty: the default one.
    // Null when there is no compositor to connect to.
    static std::unique_ptr<cWaylandConnection> open(const QByteArray& socket);
    ~cWaylandConnection() override;

    wl_display* display() const { return display_; }
    wl_registry* registry() const { return registry_; }
    bool globalsKnown() const { return globalsKnown_; }
    // The offered global of that interface; null when there is none.
    const Global* global(const char* interface) const;
    // Sends the requests made since; call after making some.
    void flush();

signals:
    void globalsAnnounced();
    // The compositor went away or broke the connection; nothing more comes.
    void lost();

private:
    explicit cWaylandConnection(wl_display* display);
    void read();

    static void onGlobal(void* data, wl_registry*, std::uint32_t name, const char* interface,
                         std::uint32_t version);
    static void onGlobalRemove(void* data, wl_registry*, std::uint32_t name);
    static void onSynced(void* data, wl_callback* callback, std::uint32_t);
    static const wl_registry_listener registryListener_;
    static const wl_callback_listener syncListener_;

    wl_display* display_;
    wl_registry* registry_ = nullptr;
    QSocketNotifier* notifier_;
    QVector<Global> globals_;
    bool globalsKnown_ = false;
};

// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/systemkeystate.h"

#include <cstdlib>
#include <cstring>

#include <QDBusConnection>

#include "platform/evdevkeystate.h"
#include "platform/portalkeystate.h"
#include "platform/x11keystate.h"

namespace {

bool isSet(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

bool waylandSession()
{
    const char* type = std::getenv("XDG_SESSION_TYPE");
    return isSet("WAYLAND_DISPLAY") || (type != nullptr && std::strcmp(type, "wayland") == 0);
}

const std::string mediaControlsAdvice =
    "`playerctl -p merlow play-pause` and `playerctl -p merlow stop` can be bound to shortcuts in the desktop's "
    "settings instead (they act on the press only, not while the keys are held)";

// The desktop's shortcuts while its portal serves; once it cannot, XWayland's
// raw key events where there is an X server, and the one message that says
// why and what to do.
class WaylandKeyState : public KeyStateSource {
public:
    WaylandKeyState(const QDBusConnection& bus, const QString& appId, std::string evdevError, KeyStateReport report)
        : portal_(bus, appId), evdevError_(std::move(evdevError)), report_(std::move(report))
    {
        QObject::connect(&portal_, &PortalKeyState::unavailable, &portal_,
                         [this](const QString& reason) { fallBack(reason.toStdString()); });
        portal_.start();
    }

    void sample() override { current().sample(); }
    std::uint16_t GetAsyncKeyState(int virtualKey) override { return current().GetAsyncKeyState(virtualKey); }

private:
    KeyStateSource& current() { return fallback_ ? *fallback_ : static_cast<KeyStateSource&>(portal_); }

    void fallBack(const std::string& portalReason)
    {
        const std::string why = evdevError_ + "; " + portalReason;
        std::string x11Error = "DISPLAY is not set, so there is no XWayland";
        if (isSet("DISPLAY"))
            fallback_ = X11KeyState::connect(x11Error);
        if (fallback_) {
            report_("the Caps Lock chords are heard only while an X11 window has the focus, through XWayland (on "
                    "KWin in every window, with \"Legacy X11 App Support\" on): "
                    + why + ". " + mediaControlsAdvice);
        } else {
            fallback_ = std::make_unique<NoKeyState>();
            report_("the Caps Lock chords are unavailable: " + why + "; " + x11Error + ". " + mediaControlsAdvice);
        }
    }

    PortalKeyState portal_;
    const std::string evdevError_;
    const KeyStateReport report_;
    std::unique_ptr<KeyStateSource> fallback_;
};

} // namespace

std::unique_ptr<KeyStateSource> systemKeyState(const QDBusConnection& bus, const QString& appId,
                                               const KeyStateReport& report)
{
    // On Wayland an X server (XWayland, if any) sees only the keys sent to
    // X11 windows, so it comes last there; on X11 its raw key events see
    // them all.
    std::string evdevError;
    if (waylandSession()) {
        if (auto evdev = EvdevKeyState::open(evdevError))
            return evdev;
        return std::make_unique<WaylandKeyState>(bus, appId, evdevError, report);
    }
    std::string x11Error;
    if (auto x11 = X11KeyState::connect(x11Error))
        return x11;
    if (auto evdev = EvdevKeyState::open(evdevError))
        return evdev;
    report("the Caps Lock chords are unavailable: " + x11Error + "; " + evdevError + ". " + mediaControlsAdvice);
    return nullptr;
}

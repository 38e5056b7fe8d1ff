#pragma once

#include <QEvent>
#include <QtGlobal>

#include <memory>
#include <string>

class QObject;

namespace velmora {

/// One message for a window's own thread: its number (the WM_USER-based
/// values the console has always used) and its parameter, which is either a
/// plain value or a heap text that the handling window owns and frees.
///
/// post() may be called from any thread; Qt delivers the messages on the
/// receiver's thread in posting order. A message destroyed unhandled (its
/// receiver went first) frees its payload, so nothing leaks at shutdown.
class WindowMessage : public QEvent {
public:
    static constexpr int WM_USER = 1024;
    /// The lowest number in use; device messages never come as posted
    /// messages of their own but through the intake queue (UWM_INTAKE).
    static constexpr int UWM_FIRST = WM_USER + 11;
    static constexpr int UWM_TRACKING_LINE = WM_USER + 11;   ///< text: vehicle id
    static constexpr int UWM_PORT_CHANGED = WM_USER + 12;    ///< value: new port
    static constexpr int UWM_TIMEOUT_CHANGED = WM_USER + 13; ///< value: new time-out, minutes
    static constexpr int UWM_EDIT_VEHICLE = WM_USER + 15;    ///< text: vehicle id
    static constexpr int UWM_REMOVE_VEHICLE = WM_USER + 16;  ///< text: vehicle id
    static constexpr int UWM_CHOOSE_IMAGE = WM_USER + 17;    ///< text: vehicle id
    static constexpr int UWM_SHOW_LOG = WM_USER + 18;
    static constexpr int UWM_SHOW_SETUP = WM_USER + 19;
    static constexpr int UWM_PAGE_LOADED = WM_USER + 20;
    static constexpr int UWM_MAP_CHANGED = WM_USER + 21;     ///< the map settings were stored
    static constexpr int UWM_INTAKE = WM_USER + 22;          ///< device messages wait in the intake queue
    static constexpr int UWM_ADMISSION_CHANGED = WM_USER + 23; ///< the new-vehicle rules were stored
    static constexpr int UWM_DELETE_VEHICLE = WM_USER + 24;  ///< text: vehicle id
    static constexpr int UWM_ALARMS_CHANGED = WM_USER + 25;  ///< the alarm kinds were stored

    /// The event type that carries message number: QEvent::User + number,
    /// reserved with Qt on first use.
    static QEvent::Type typeOf(int number);
    /// event as a WindowMessage, or null when it is none.
    static WindowMessage* from(QEvent* event);

    /// A message whose parameter is a plain value.
    WindowMessage(int number, qintptr value);
    /// A message carrying a text (a vehicle id).
    WindowMessage(int number, std::unique_ptr<std::string> text);
    ~WindowMessage() override = default;
    WindowMessage(const WindowMessage&) = delete;
    WindowMessage& operator=(const WindowMessage&) = delete;

    /// Posts message to receiver's thread; Qt owns it until it is handled.
    static void post(QObject* receiver, WindowMessage* message);
    /// Posts a message with a plain value.
    static void post(QObject* receiver, int number, qintptr value = 0);

    int getNumber() const { return m_number; }
    qintptr getValue() const { return m_value; }
    /// The text payload, handed to the caller; null when none or taken.
    std::unique_ptr<std::string> takeText() { return std::move(m_text); }

private:
    int m_number;
    qintptr m_value = 0;
    std::unique_ptr<std::string> m_text;
};

} // namespace velmora

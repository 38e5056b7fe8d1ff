#include "app/shell/WindowMessage.h"

#include <QCoreApplication>

namespace velmora {

QEvent::Type WindowMessage::typeOf(int number) {
    const int type = QEvent::User + number;
    // Reserving the type keeps other code from registering it; the hint is
    // free at start-up, so Qt hands back exactly this value.
    static const bool reserved = [] {
        for (int n = UWM_FIRST; n <= UWM_ALARMS_CHANGED; ++n) {
            QEvent::registerEventType(QEvent::User + n);
        }
        return true;
    }();
    (void)reserved;
    return static_cast<QEvent::Type>(type);
}

WindowMessage* WindowMessage::from(QEvent* event) {
    const int type = static_cast<int>(event->type());
    if (type < QEvent::User + UWM_FIRST || type > QEvent::User + UWM_ALARMS_CHANGED) {
        return nullptr;
    }
    return dynamic_cast<WindowMessage*>(event);
}

WindowMessage::WindowMessage(int number, qintptr value) : QEvent(typeOf(number)), m_number(number), m_value(value) {}

WindowMessage::WindowMessage(int number, std::unique_ptr<std::string> text)
    : QEvent(typeOf(number)), m_number(number), m_text(std::move(text)) {}

void WindowMessage::post(QObject* receiver, WindowMessage* message) {
    QCoreApplication::postEvent(receiver, message);
}

void WindowMessage::post(QObject* receiver, int number, qintptr value) {
    post(receiver, new WindowMessage(number, value));
}

} // namespace velmora

#pragma once

#include <QJsonArray>
#include <QObject>
#include <QString>

class QWebEnginePage;
class QWebChannel;

namespace velmora {

class CefClientV8Listener;

/// The native side of the page's `cef.extension` functions.
///
/// install() puts a script into the page that runs at document creation in
/// the main world, before any script of the page: it defines
/// cef.extension.onClickLog(), onClickSetup(), onChangeName(vehicleID,
/// vehicleName), onUpdateOptionalInfo(vehicleID, [imagePath, info1, info2]),
/// onClickEdit(vehicleID), onClickRemove(vehicleID), onClickImgBtn(vehicleID)
/// onClickTrackingLine(vehicleID), onClickDelete(vehicleID),
/// onMapViewChanged(latitude, longitude, zoom), onClickZones(),
/// onZoneDrawn(shape, geometry) and onZoneEdited(zoneID, shape, geometry).
/// Each forwards its call over a QWebChannel to dispatch(); calls made
/// before the channel is up are queued in the page and sent in order once
/// it is, so none is lost or reordered.
/// onChangeName() with no arguments throws in the page and forwards nothing.
///
/// Used on the GUI thread only; listener calls arrive there.
class CefClientV8Handler : public QObject {
    Q_OBJECT

public:
    /// The extension's name, kept for diagnostics.
    static const char* const EXTENSION_NAME;
    /// The name the handler has on the page's web channel.
    static const char* const CHANNEL_OBJECT;

    explicit CefClientV8Handler(CefClientV8Listener* listener = nullptr, QObject* parent = nullptr);
    ~CefClientV8Handler() override;

    void setListener(CefClientV8Listener* listener) { m_listener = listener; }
    CefClientV8Listener* getListener() const { return m_listener; }

    /// Adds the extension script and this handler's web channel to page;
    /// every document the page loads afterwards has cef.extension. Call
    /// before the page loads its document.
    void install(QWebEnginePage* page);
    /// The whole script injected at document creation.
    static QString extensionScript();

    /// One page call: name and its arguments as the page gave them. Texts
    /// are taken only where the argument is a string, else empty. Answers
    /// false for an unknown name, for onChangeName without arguments and for
    /// onMapViewChanged without a valid view (nothing is forwarded then),
    /// true otherwise. An exception thrown by
    /// the listener is traced and goes no further.
    Q_INVOKABLE bool dispatch(const QString& name, const QJsonArray& args);

private:
    bool forward(const QString& name, const QJsonArray& args);

    CefClientV8Listener* m_listener;
    QWebChannel* m_channel = nullptr;
};

} // namespace velmora

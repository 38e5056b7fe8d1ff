#include "mapview/CefClientV8Handler.h"

#include "foundation/Exception.h"
#include "foundation/Trace.h"
#include "mapview/CefClientV8Listener.h"

#include <QFile>
#include <QJsonValue>
#include <QWebChannel>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>

#include <exception>
#include <string>

namespace velmora {

const char* const CefClientV8Handler::EXTENSION_NAME = "cef/extension";
const char* const CefClientV8Handler::CHANNEL_OBJECT = "cefExtension";

namespace {

// Runs in the page before any of its own scripts. The first line keeps an
// object the page may already have; the rest lives in a closure, so the page
// sees only cef.extension. Arguments are reduced to strings, nulls and
// three-element lists here, because anything else could not cross the
// channel (JSON) and the native side wants no more than that anyway.
const char* const kBootstrap = R"JS(
(function () {
  var queue = [];
  var remote = null;
  function send(name, args) {
    if (remote)
      remote.dispatch(name, args);
    else
      queue.push([name, args]);
  }
  function text(value) { return typeof value === 'string' ? value : null; }
  function triple(value) {
    if (!Array.isArray(value))
      return null;
    return [text(value[0]), text(value[1]), text(value[2])];
  }
  var ext = cef.extension;
  ext.onClickLog = function () { send('onClickLog', []); };
  ext.onClickSetup = function () { send('onClickSetup', []); };
  ext.onChangeName = function (vehicleID, vehicleName) {
    if (arguments.length === 0)
      throw new Error('onChangeName: a vehicle id and a name are required');
    send('onChangeName', [text(vehicleID), text(vehicleName)]);
  };
  ext.onUpdateOptionalInfo = function (vehicleID, optionalInfo) {
    send('onUpdateOptionalInfo', [text(vehicleID), triple(optionalInfo)]);
  };
  ext.onClickEdit = function (vehicleID) { send('onClickEdit', [text(vehicleID)]); };
  ext.onClickRemove = function (vehicleID) { send('onClickRemove', [text(vehicleID)]); };
  ext.onClickImgBtn = function (vehicleID) { send('onClickImgBtn', [text(vehicleID)]); };
  ext.onClickTrackingLine = function (vehicleID) { send('onClickTrackingLine', [text(vehicleID)]); };
  ext.onClickDelete = function (vehicleID) { send('onClickDelete', [text(vehicleID)]); };
  ext.onMapViewChanged = function (latitude, longitude, zoom) {
    send('onMapViewChanged', [text(latitude), text(longitude), text(zoom)]);
  };
  ext.onClickZones = function () { send('onClickZones', []); };
  ext.onZoneDrawn = function (shape, geometry) { send('onZoneDrawn', [text(shape), text(geometry)]); };
  ext.onZoneEdited = function (zoneID, shape, geometry) {
    send('onZoneEdited', [text(zoneID), text(shape), text(geometry)]);
  };

  // Taken now, before page scripts could shadow the global name.
  var transport = (typeof qt === 'object' && qt) ? qt.webChannelTransport : undefined;
  function connect() {
    if (!transport && typeof qt === 'object' && qt)
      transport = qt.webChannelTransport;
    if (!transport) {
      setTimeout(connect, 5);
      return;
    }
    new QWebChannel(transport, function (channel) {
      remote = channel.objects.@CHANNEL_OBJECT@;
      while (queue.length > 0) {
        var call = queue.shift();
        remote.dispatch(call[0], call[1]);
      }
    });
  }
  connect();
})();
)JS";

std::string argumentText(const QJsonArray& args, qsizetype index)
{
    if (index >= args.size() || !args.at(index).isString())
        return std::string();
    return args.at(index).toString().toStdString();
}

std::string elementText(const QJsonArray& list, qsizetype index)
{
    if (index >= list.size() || !list.at(index).isString())
        return std::string();
    return list.at(index).toString().toStdString();
}

} // namespace

CefClientV8Handler::CefClientV8Handler(CefClientV8Listener* listener, QObject* parent)
    : QObject(parent)
    , m_listener(listener)
{
}

CefClientV8Handler::~CefClientV8Handler() = default;

QString CefClientV8Handler::extensionScript()
{
    static const QString script = [] {
        QFile file(QStringLiteral(":/qtwebchannel/qwebchannel.js"));
        QString channelSource;
        if (file.open(QIODevice::ReadOnly))
            channelSource = QString::fromUtf8(file.readAll());
        else
            trace("cef/extension: the web channel script is missing");
        QString bootstrap = QString::fromUtf8(kBootstrap);
        bootstrap.replace(QStringLiteral("@CHANNEL_OBJECT@"), QString::fromLatin1(CHANNEL_OBJECT));
        return QStringLiteral("var cef;if (!cef)  cef = {};if (!cef.extension)  cef.extension = {};\n"
                              "(function () {\nvar QWebChannel = (function () {\n")
            + channelSource + QStringLiteral("\nreturn QWebChannel;\n})();\n") + bootstrap
            + QStringLiteral("})();\n");
    }();
    return script;
}

void CefClientV8Handler::install(QWebEnginePage* page)
{
    if (m_channel == nullptr) {
        m_channel = new QWebChannel(this);
        m_channel->registerObject(QString::fromLatin1(CHANNEL_OBJECT), this);
    }
    QWebEngineScript script;
    script.setName(QString::fromLatin1(EXTENSION_NAME));
    script.setSourceCode(extensionScript());
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(QWebEngineScript::MainWorld);
    script.setRunsOnSubFrames(false);
    page->scripts().insert(script);
    page->setWebChannel(m_channel, QWebEngineScript::MainWorld);
}

bool CefClientV8Handler::dispatch(const QString& name, const QJsonArray& args)
{
    // The call comes from the event loop; nothing may escape into it.
    try {
        return forward(name, args);
    } catch (const Exception& e) {
        traceException(e);
    } catch (const std::exception& e) {
        trace("cef/extension: %s failed: %s", qPrintable(name), e.what());
    } catch (...) {
        trace("cef/extension: %s failed", qPrintable(name));
    }
    return true;
}

bool CefClientV8Handler::forward(const QString& name, const QJsonArray& args)
{
    CefClientV8Listener* listener = m_listener;
    if (name == QLatin1String("onClickLog")) {
        if (listener)
            listener->onClickLog();
        return true;
    }
    if (name == QLatin1String("onClickSetup")) {
        if (listener)
            listener->onClickSetup();
        return true;
    }
    if (name == QLatin1String("onChangeName")) {
        if (args.isEmpty())
            return false;
        if (listener)
            listener->onChangeName(argumentText(args, 0), argumentText(args, 1));
        return true;
    }
    if (name == QLatin1String("onUpdateOptionalInfo")) {
        const std::string id = argumentText(args, 0);
        std::string imagePath, info1, info2;
        if (args.size() > 1 && args.at(1).isArray()) {
            const QJsonArray list = args.at(1).toArray();
            imagePath = elementText(list, 0);
            info1 = elementText(list, 1);
            info2 = elementText(list, 2);
        }
        if (listener)
            listener->onUpdateOptionalInfo(id, imagePath, info1, info2);
        return true;
    }
    if (name == QLatin1String("onClickEdit")) {
        if (listener)
            listener->onClickEdit(argumentText(args, 0));
        return true;
    }
    if (name == QLatin1String("onClickRemove")) {
        if (listener)
            listener->onClickRemove(argumentText(args, 0));
        return true;
    }
    if (name == QLatin1String("onClickImgBtn")) {
        if (listener)
            listener->onClickImgBtn(argumentText(args, 0));
        return true;
    }
    if (name == QLatin1String("onClickTrackingLine")) {
        if (listener)
            listener->onClickTrackingLine(argumentText(args, 0));
        return true;
    }
    if (name == QLatin1String("onClickDelete")) {
        if (listener)
            listener->onClickDelete(argumentText(args, 0));
        return true;
    }
    if (name == QLatin1String("onMapViewChanged")) {
        // Numbers as the page writes them; QString reads the C locale only.
        bool latOk = false, lngOk = false, zoomOk = false;
        MapView view;
        view.latitude = args.size() > 0 ? args.at(0).toString().toDouble(&latOk) : 0;
        view.longitude = args.size() > 1 ? args.at(1).toString().toDouble(&lngOk) : 0;
        view.zoom = args.size() > 2 ? args.at(2).toString().toInt(&zoomOk) : 0;
        if (!latOk || !lngOk || !zoomOk || !view.isValid()) {
            trace("cef/extension: onMapViewChanged without a view");
            return false;
        }
        if (listener)
            listener->onMapViewChanged(view);
        return true;
    }
    if (name == QLatin1String("onClickZones")) {
        if (listener)
            listener->onClickZones();
        return true;
    }
    if (name == QLatin1String("onZoneDrawn")) {
        if (listener)
            listener->onZoneDrawn(argumentText(args, 0), argumentText(args, 1));
        return true;
    }
    if (name == QLatin1String("onZoneEdited")) {
        if (listener)
            listener->onZoneEdited(argumentText(args, 0), argumentText(args, 1), argumentText(args, 2));
        return true;
    }
    trace("cef/extension: unknown function %s", qPrintable(name));
    return false;
}

} // namespace velmora

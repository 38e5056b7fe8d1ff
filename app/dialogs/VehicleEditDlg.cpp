#include "app/dialogs/VehicleEditDlg.h"

#include "app/dialogs/ImageFileDialog.h"
#include "app/dialogs/MessageBox.h"
#include "app/hub/ISharedSettings.h"
#include "app/hub/IVehicleStore.h"
#include "app/hub/RuleSettings.h"
#include "db/DatabaseException.h"
#include "db/Setup.h"
#include "db/VehicleInfo.h"
#include "db/VehicleInfoContainer.h"
#include "foundation/File.h"
#include "foundation/SystemException.h"
#include "foundation/Trace.h"
#include "foundation/UniqueID.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QValidator>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <system_error>

namespace velmora {

namespace {

const char* const CAPTION = "Edit Vehicle";
const char* const NAME_LABEL = "Name :";
const char* const INFO1_LABEL = "Info1 :";
const char* const INFO2_LABEL = "Info2 :";
const char* const IMAGE_LABEL = "Image :";
const char* const SILENT_LABEL = "Silent after :";
const char* const SILENT_UNIT = "minutes (0 never)";
const char* const SILENT_HINT = "as in Setup (%1)";
const char* const BROWSE_TEXT = "...";
const char* const UPDATE_FALSE = "Update FALSE";
// The image field grows with the path; the edits keep this width.
constexpr int EDIT_WIDTH = 200;
constexpr int BROWSE_PADDING = 20;

QLabel* label(QWidget* parent, const char* text) {
    auto* created = new QLabel(QString::fromLatin1(text), parent);
    created->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return created;
}

QLineEdit* edit(QWidget* parent, const char* name) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(QString::fromLatin1(name));
    // A stored text of any length is shown whole: QLineEdit's own limit
    // would cut it at filling. Typing is limited by TypingLimit.
    field->setMaxLength(std::numeric_limits<int>::max());
    field->setMinimumWidth(EDIT_WIDTH);
    return field;
}

// Limits what the operator types or pastes, never what was stored: a text
// may not grow past the limit, nor past its own length when it was already
// longer. What does not fit is cut from the characters just put in (they
// end at the cursor), never in the middle of a surrogate pair.
class TypingLimit : public QValidator {
public:
    TypingLimit(QLineEdit* field, int limit) : QValidator(field), m_limit(limit), m_previous(field->text().size()) {
        connect(field, &QLineEdit::textChanged, this, [this](const QString& text) { m_previous = text.size(); });
    }

    State validate(QString& input, int& position) const override {
        const qsizetype allowed = std::max<qsizetype>(m_limit, m_previous);
        const qsizetype excess = input.size() - allowed;
        if (excess <= 0) {
            return Acceptable;
        }
        qsizetype from = std::max<qsizetype>(0, position - excess);
        qsizetype count = std::min<qsizetype>(excess, input.size() - from);
        if (from > 0 && input.at(from).isLowSurrogate() && input.at(from - 1).isHighSurrogate()) {
            --from;
            ++count;
        }
        input.remove(from, count);
        position = static_cast<int>(from);
        return Acceptable;
    }

private:
    int m_limit;
    qsizetype m_previous;
};

} // namespace

VehicleEditDlg::VehicleEditDlg(const std::string& vehicleIdText, QWidget* parent, IVehicleStore* store,
                               ISharedSettings* shared)
    : QDialog(parent), m_vehicleIdText(vehicleIdText), m_store(store), m_shared(shared) {
    setObjectName(QStringLiteral("vehicleEditDlg"));
    setWindowTitle(QString::fromLatin1(CAPTION));

    m_nameEdit = edit(this, "nameEdit");
    m_info1Edit = edit(this, "info1Edit");
    m_info2Edit = edit(this, "info2Edit");
    m_imageEdit = edit(this, "imageEdit");
    auto* browse = new QPushButton(QString::fromLatin1(BROWSE_TEXT), this);
    browse->setObjectName(QStringLiteral("browseButton"));
    browse->setAutoDefault(false);
    browse->setFixedWidth(browse->fontMetrics().horizontalAdvance(browse->text()) + BROWSE_PADDING);
    connect(browse, &QPushButton::clicked, this, &VehicleEditDlg::onChooseImage);

    m_silentEdit = new QLineEdit(this);
    m_silentEdit->setObjectName(QStringLiteral("silentEdit"));
    // Digits only, in every locale; blank is the Setup window's time.
    m_silentEdit->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,5}")), m_silentEdit));

    auto* grid = new QGridLayout(this);
    grid->addWidget(label(this, NAME_LABEL), 0, 0);
    grid->addWidget(m_nameEdit, 0, 1, 1, 2);
    grid->addWidget(label(this, INFO1_LABEL), 1, 0);
    grid->addWidget(m_info1Edit, 1, 1, 1, 2);
    grid->addWidget(label(this, INFO2_LABEL), 2, 0);
    grid->addWidget(m_info2Edit, 2, 1, 1, 2);
    grid->addWidget(label(this, IMAGE_LABEL), 3, 0);
    grid->addWidget(m_imageEdit, 3, 1);
    grid->addWidget(browse, 3, 2);
    grid->addWidget(label(this, SILENT_LABEL), 4, 0);
    grid->addWidget(m_silentEdit, 4, 1);
    auto* silentUnit = new QLabel(QString::fromLatin1(SILENT_UNIT), this);
    grid->addWidget(silentUnit, 4, 2);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setDefault(true);
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancelButton"));
    grid->addWidget(buttons, 5, 0, 1, 3);
    grid->setSizeConstraint(QLayout::SetFixedSize);
    connect(buttons, &QDialogButtonBox::accepted, this, &VehicleEditDlg::onOk);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    UniqueID id(AbstractDatabaseRecord::nullId());
    if (UniqueID::parse(vehicleIdText.c_str(), id)) {
        m_vehicle = VehicleInfoContainer::getInstance().find(id);
    }
    if (m_vehicle != nullptr) {
        const std::string& name =
            m_vehicle->getEditedName().empty() ? m_vehicle->getName() : m_vehicle->getEditedName();
        m_nameEdit->setText(QString::fromStdString(name));
        m_info1Edit->setText(QString::fromStdString(m_vehicle->getInfo1()));
        m_info2Edit->setText(QString::fromStdString(m_vehicle->getInfo2()));
        m_imageEdit->setText(QString::fromStdString(m_vehicle->getImagePath()));
        // At a desk the control room's, which the receiver watches by.
        m_silentMinutes = m_shared != nullptr ? m_shared->getVehicleSilentMinutes(id)
                                              : RuleSettings::vehicleSilentMinutes(Setup::getInstance(), id);
        if (m_silentMinutes >= 0) {
            m_silentEdit->setText(QString::number(m_silentMinutes));
        }
        const int32_t fleetMinutes = m_shared != nullptr ? m_shared->getRules().silentMinutes
                                                         : RuleSettings::load(Setup::getInstance()).silentMinutes;
        m_silentEdit->setPlaceholderText(QString::fromLatin1(SILENT_HINT).arg(fleetMinutes));
    } else {
        trace("VehicleEditDlg: no vehicle %.64s", vehicleIdText.c_str());
    }
    // After filling: the stored texts are the starting lengths.
    for (QLineEdit* field : {m_nameEdit, m_info1Edit, m_info2Edit}) {
        field->setValidator(new TypingLimit(field, TEXT_LIMIT));
    }
}

int VehicleEditDlg::exec() {
    if (m_vehicle == nullptr) {
        setResult(QDialog::Rejected);
        return QDialog::Rejected;
    }
    return QDialog::exec();
}

void VehicleEditDlg::onChooseImage() {
    const std::string path = ImageFileDialog::choose(this);
    if (!path.empty()) {
        m_imageEdit->setText(QString::fromStdString(path));
    }
}

std::string VehicleEditDlg::existingPath(const std::string& path) {
    if (path.empty()) {
        return {};
    }
    try {
        if (!File::exists(path.c_str())) {
            return {};
        }
    } catch (const SystemException& e) {
        // A missing folder or one we may not look into: no usable image.
        traceException(e);
        return {};
    }
    // A folder opens like a file but is no image; the page would show a
    // broken picture instead of the default icon.
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        return {};
    }
    return path;
}

void VehicleEditDlg::onOk() {
    // The fleet may have changed while the window was open (another desk
    // deleted the vehicle): the record is looked up again.
    UniqueID id(AbstractDatabaseRecord::nullId());
    m_vehicle = UniqueID::parse(m_vehicleIdText.c_str(), id) ? VehicleInfoContainer::getInstance().find(id) : nullptr;
    if (m_vehicle == nullptr) {
        reject();
        return;
    }
    m_vehicle->setEditedName(m_nameEdit->text().toStdString());
    m_vehicle->setInfo1(m_info1Edit->text().toStdString());
    m_vehicle->setInfo2(m_info2Edit->text().toStdString());
    m_vehicle->setImagePath(existingPath(m_imageEdit->text().toStdString()));
    const bool stored = m_store != nullptr
                            ? m_store->save(*m_vehicle, IVehicleStore::EDITED_NAME | IVehicleStore::INFO |
                                                            IVehicleStore::IMAGE)
                            : m_vehicle->update(VehicleInfoContainer::getInstance());
    if (!stored) {
        trace("%s", UPDATE_FALSE);
    }
    // The field takes five digits at most; QString reads C-locale digits.
    bool ok = false;
    const int typed = m_silentEdit->text().toInt(&ok, 10);
    const int32_t silent = ok ? std::min<int32_t>(typed, WatchSettings::SILENT_MINUTES_MAX) : -1;
    if (silent != m_silentMinutes && m_shared != nullptr) {
        QString problem;
        if (!m_shared->storeVehicleSilentMinutes(m_vehicle->getId(), silent, problem)) {
            MessageBox::error(this, QStringLiteral("The vehicle's silent time was not stored: %1").arg(problem));
            return;
        }
    } else if (silent != m_silentMinutes) {
        try {
            RuleSettings::storeVehicleSilentMinutes(Setup::getInstance(), m_vehicle->getId(), silent);
        } catch (const DatabaseException& e) {
            // The rules go on with the time they had.
            traceException(e);
        }
    }
    accept();
}

} // namespace velmora

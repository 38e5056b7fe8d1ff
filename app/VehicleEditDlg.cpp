#include "app/VehicleEditDlg.h"

#include "app/ImageFileDialog.h"
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

QLineEdit* edit(QWidget* parent, const char* name, int limit) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(QString::fromLatin1(name));
    field->setMaxLength(limit);
    field->setMinimumWidth(EDIT_WIDTH);
    return field;
}

} // namespace

VehicleEditDlg::VehicleEditDlg(const std::string& vehicleIdText, QWidget* parent)
    : QDialog(parent), m_vehicleIdText(vehicleIdText) {
    setObjectName(QStringLiteral("vehicleEditDlg"));
    setWindowTitle(QString::fromLatin1(CAPTION));

    m_nameEdit = edit(this, "nameEdit", TEXT_LIMIT);
    m_info1Edit = edit(this, "info1Edit", TEXT_LIMIT);
    m_info2Edit = edit(this, "info2Edit", TEXT_LIMIT);
    m_imageEdit = edit(this, "imageEdit", std::numeric_limits<int>::max());
    auto* browse = new QPushButton(QString::fromLatin1(BROWSE_TEXT), this);
    browse->setObjectName(QStringLiteral("browseButton"));
    browse->setAutoDefault(false);
    browse->setFixedWidth(browse->fontMetrics().horizontalAdvance(browse->text()) + BROWSE_PADDING);
    connect(browse, &QPushButton::clicked, this, &VehicleEditDlg::onChooseImage);

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
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setDefault(true);
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancelButton"));
    grid->addWidget(buttons, 4, 0, 1, 3);
    grid->setSizeConstraint(QLayout::SetFixedSize);
    connect(buttons, &QDialogButtonBox::accepted, this, &VehicleEditDlg::onOk);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    UniqueID id(AbstractDatabaseRecord::nullId());
    if (UniqueID::parse(vehicleIdText.c_str(), id)) {
        m_vehicle = VehicleInfoContainer::getInstance().find(id);
    }
    if (m_vehicle == nullptr) {
        trace("VehicleEditDlg: no vehicle %.64s", vehicleIdText.c_str());
        return;
    }
    const std::string& name = m_vehicle->getEditedName().empty() ? m_vehicle->getName() : m_vehicle->getEditedName();
    m_nameEdit->setText(QString::fromStdString(name));
    m_info1Edit->setText(QString::fromStdString(m_vehicle->getInfo1()));
    m_info2Edit->setText(QString::fromStdString(m_vehicle->getInfo2()));
    m_imageEdit->setText(QString::fromStdString(m_vehicle->getImagePath()));
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
    m_vehicle->setEditedName(m_nameEdit->text().toStdString());
    m_vehicle->setInfo1(m_info1Edit->text().toStdString());
    m_vehicle->setInfo2(m_info2Edit->text().toStdString());
    m_vehicle->setImagePath(existingPath(m_imageEdit->text().toStdString()));
    if (!m_vehicle->update(VehicleInfoContainer::getInstance())) {
        trace("%s", UPDATE_FALSE);
    }
    accept();
}

} // namespace velmora

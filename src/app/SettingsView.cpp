#include "SettingsView.h"
#include "PlainText.h"

#include "BrowserModel.h"
#include "Desktop.h"
#include "Look.h"
#include "Theme.h"

#include <QCheckBox>
#include <QDir>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// One line, shortened in the middle when it does not fit.
class MiddleElidedLabel : public QLabel {
public:
    using QLabel::QLabel;
    QSize minimumSizeHint() const override { return {40, QLabel::minimumSizeHint().height()}; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setPen(palette().color(foregroundRole()));
        const QString shown = fontMetrics().elidedText(text(), Qt::ElideMiddle, contentsRect().width());
        painter.drawText(contentsRect(), Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine, shown);
    }
};

} // namespace

SettingsView::SettingsView(BrowserModel& model, std::shared_ptr<Desktop> desktop, MenuBarSetting menuBar,
                           QWidget* parent)
    : QWidget(parent), m_model(model), m_desktop(std::move(desktop)), m_menuBar(std::move(menuBar))
{
    setObjectName(QStringLiteral("settings"));
    QPalette tinted = palette();
    tinted.setColor(QPalette::Highlight, Theme::accent(Theme::isDark(tinted)));
    setPalette(tinted);

    auto* column = new QVBoxLayout(this);
    column->setSizeConstraint(QLayout::SetFixedSize);
    auto group = [this, column](const QString& title) {
        auto* box = new QGroupBox(title, this);
        box->setObjectName(title);
        box->setFixedWidth(460 - column->contentsMargins().left() - column->contentsMargins().right());
        auto* rows = new QVBoxLayout(box);
        column->addWidget(box);
        return rows;
    };
    BrowserModel* m = &m_model;
    auto toggle = [this](QVBoxLayout* rows, const QString& label, bool on, std::function<void(bool)> write) {
        auto* box = new QCheckBox(label, this);
        box->setObjectName(label);
        box->setChecked(on);
        connect(box, &QCheckBox::toggled, this, std::move(write));
        rows->addWidget(box);
        m_toggles.append(box);
        return box;
    };

    QVBoxLayout* copying = group(QStringLiteral("Copying to Computer"));
    toggle(copying, QStringLiteral("Ask where to save each time"), m->askWhereToSave(),
           [m](bool on) { m->setAskWhereToSave(on); });
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(QStringLiteral("Save to"), this));
    m_folder = new MiddleElidedLabel(this);
    m_folder->setObjectName(QStringLiteral("saveFolder"));
    m_folder->setTextFormat(Qt::PlainText);
    Look::setForeground(m_folder, Look::secondary(palette()));
    row->addWidget(m_folder, 1);
    auto* choose = new QPushButton(QStringLiteral("Choose…"), this);
    choose->setObjectName(QStringLiteral("choose"));
    connect(choose, &QPushButton::clicked, this, &SettingsView::chooseFolder);
    row->addWidget(choose);
    copying->addLayout(row);
    toggle(copying, QStringLiteral("Show copied files in the file manager"), m->revealAfterCopy(),
           [m](bool on) { m->setRevealAfterCopy(on); });

    QVBoxLayout* connecting = group(QStringLiteral("Connecting"));
    toggle(connecting, QStringLiteral("Open Vantelorquist when a phone is plugged in"), m->openWhenConnected(),
           [m](bool on) { m->setOpenWhenConnected(on); });
    toggle(connecting, QStringLiteral("Reconnect to paired phones over Wi-Fi automatically"),
           m->autoReconnectWireless(), [m](bool on) { m->setAutoReconnectWireless(on); });

    QVBoxLayout* menuBarGroup = group(QStringLiteral("System tray"));
    toggle(menuBarGroup, QStringLiteral("Show Vantelorquist in the system tray"), m_menuBar.read(), [this](bool on) {
        m_menuBar.write(on);
        refresh();
    });
    toggle(menuBarGroup, QStringLiteral("Keep running in the system tray when the window is closed"),
           m->keepRunningInMenuBar(), [m](bool on) { m->setKeepRunningInMenuBar(on); });

    QVBoxLayout* browsing = group(QStringLiteral("Browsing"));
    toggle(browsing, QStringLiteral("Show hidden files"), m->showHidden(), [m](bool on) { m->setShowHidden(on); });

    // Changes made elsewhere (the View menu, another window) show here too.
    auto follow = [this](auto signal, const QString& label, auto read) {
        connect(&m_model, signal, this,
                [this, label, read] { this->toggle(label)->setChecked((m_model.*read)()); });
    };
    follow(&BrowserModel::askWhereToSaveChanged, QStringLiteral("Ask where to save each time"),
           &BrowserModel::askWhereToSave);
    follow(&BrowserModel::revealAfterCopyChanged, QStringLiteral("Show copied files in the file manager"),
           &BrowserModel::revealAfterCopy);
    follow(&BrowserModel::openWhenConnectedChanged, QStringLiteral("Open Vantelorquist when a phone is plugged in"),
           &BrowserModel::openWhenConnected);
    follow(&BrowserModel::autoReconnectWirelessChanged,
           QStringLiteral("Reconnect to paired phones over Wi-Fi automatically"), &BrowserModel::autoReconnectWireless);
    follow(&BrowserModel::keepRunningInMenuBarChanged,
           QStringLiteral("Keep running in the system tray when the window is closed"), &BrowserModel::keepRunningInMenuBar);
    follow(&BrowserModel::showHiddenChanged, QStringLiteral("Show hidden files"), &BrowserModel::showHidden);
    connect(&m_model, &BrowserModel::saveFolderChanged, this, &SettingsView::refresh);
    connect(&m_model, &BrowserModel::adbMissingChanged, this, &SettingsView::refresh);
    refresh();
    // 460 wide and as tall as the groups, before it is first shown.
    column->activate();
}

QString SettingsView::displayPath(const QString& path, const QString& home)
{
    QString root = home;
    while (root.size() > 1 && root.endsWith(QLatin1Char('/')))
        root.chop(1);
    if (root.isEmpty() || root == QStringLiteral("/") || !path.startsWith(root))
        return path;
    if (path.size() == root.size() || path.at(root.size()) == QLatin1Char('/'))
        return QStringLiteral("~") + path.mid(root.size());
    return path;
}

QCheckBox* SettingsView::toggle(const QString& label) const
{
    for (QCheckBox* box : m_toggles) {
        if (box->text() == label)
            return box;
    }
    return nullptr;
}

QString SettingsView::folderText() const
{
    return m_folder->text();
}

void SettingsView::refresh()
{
    const bool menuBar = m_menuBar.read();
    QCheckBox* show = toggle(QStringLiteral("Show Vantelorquist in the system tray"));
    if (show->isChecked() != menuBar)
        show->setChecked(menuBar);
    toggle(QStringLiteral("Keep running in the system tray when the window is closed"))->setEnabled(menuBar);
    toggle(QStringLiteral("Reconnect to paired phones over Wi-Fi automatically"))->setEnabled(!m_model.adbMissing());
    m_folder->setText(displayPath(m_model.saveFolder(), QDir::homePath()));
    m_folder->setToolTip(PlainText::toolTip(m_model.saveFolder()));
    m_folder->update();
}

void SettingsView::chooseFolder()
{
    if (!m_desktop)
        return;
    Desktop::Panel panel;
    panel.folder = m_model.saveFolder();
    // The window may go while its panel is open (closed on quit); the model
    // and the desktop outlive it.
    BrowserModel& model = m_model;
    const std::shared_ptr<Desktop> desktop = m_desktop;
    if (const std::optional<QString> chosen = desktop->chooseFolder(panel))
        model.setSaveFolder(*chosen);
}

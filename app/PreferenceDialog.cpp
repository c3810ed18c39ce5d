#include "PreferenceDialog.h"

#include "AppConstants.h"

#include "DiskWidgetPage.h"
#include "HelpWidgetPage.h"
#include "OptionWidgetPage.h"
#include "RegistryWidgetPage.h"
#include "StartupWidgetPage.h"
#include "ToolsWidgetPage.h"
#include "UninstallWidgetPage.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QStackedLayout>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {

// One row per page, in page order: the index in the stack is the row number.
struct PageRow
{
    const char *buttonName;
    const char *buttonText;
    const char *windowIcon;
    const char *titleIcon;
};

constexpr std::array<PageRow, 7> pageRows{{
        {"Info", QT_TRANSLATE_NOOP("PreferenceDialog", "Computer Info"), "/info.png",
         "/sys_info.png"},
        {"Disk", QT_TRANSLATE_NOOP("PreferenceDialog", "Disk Cleaner"), "/disk.png",
         "/sys_disk.png"},
        {"Registry", QT_TRANSLATE_NOOP("PreferenceDialog", "Registry Cleaner"), "/registry.png",
         "/sys_registry.png"},
        {"Startup", QT_TRANSLATE_NOOP("PreferenceDialog", "Startup Manager"), "/startup.png",
         "/sys_startup.png"},
        {"Uninstall", QT_TRANSLATE_NOOP("PreferenceDialog", "Uninstaller"), "/uninstall.png",
         "/sys_uninstall.png"},
        {"Tools", QT_TRANSLATE_NOOP("PreferenceDialog", "System Tools"), "/tools.png",
         "/sys_tools.png"},
        {"Help", QT_TRANSLATE_NOOP("PreferenceDialog", "Help"), "/help.png", "/sys_help.png"},
}};

constexpr int infoPage = 0;
constexpr int diskPage = 1;
constexpr int registryPage = 2;
constexpr int startupPage = 3;
constexpr int uninstallPage = 4;
constexpr int toolsPage = 5;
constexpr int helpPage = 6;

constexpr int sysInfoPeriodMs = 400;

} // namespace

PreferenceDialog::PreferenceDialog(QWidget *parent)
    : QDialog(parent, Qt::FramelessWindowHint)
{
    setObjectName("MainWindow");

    m_stackedLayout = new QStackedLayout;
    auto *navigationLayout = new QHBoxLayout;

    // Adds a page at the next index of the stack and creates its navigation button.
    const auto addPage = [&](QWidget *page) {
        const PageRow &row = pageRows[m_stackedLayout->count()];
        m_stackedLayout->addWidget(page);
        auto *button = new QToolButton(this);
        button->setObjectName(row.buttonName);
        button->setText(tr(row.buttonText));
        navigationLayout->addWidget(button);
        return button;
    };
    m_optionPage = new OptionWidgetPage(this);
    m_infoButton = addPage(m_optionPage);
    m_diskPage = new DiskWidgetPage(this);
    m_diskButton = addPage(m_diskPage);
    m_registryPage = new RegistryWidgetPage(this);
    m_registryButton = addPage(m_registryPage);
    m_startupPage = new StartupWidgetPage(this);
    m_startupButton = addPage(m_startupPage);
    m_uninstallPage = new UninstallWidgetPage(this);
    m_uninstallButton = addPage(m_uninstallPage);
    m_toolsPage = new ToolsWidgetPage(this);
    m_toolsButton = addPage(m_toolsPage);
    m_helpPage = new HelpWidgetPage(this);
    m_helpButton = addPage(m_helpPage);

    connect(m_infoButton, &QToolButton::clicked, this, &PreferenceDialog::setStackedLayoutInfo);
    connect(m_diskButton, &QToolButton::clicked, this, &PreferenceDialog::setStackedLayoutDisk);
    connect(m_registryButton, &QToolButton::clicked, this,
            &PreferenceDialog::setStackedLayoutRegistry);
    connect(m_startupButton, &QToolButton::clicked, this,
            &PreferenceDialog::setStackedLayoutStartup);
    connect(m_uninstallButton, &QToolButton::clicked, this,
            &PreferenceDialog::setStackedLayoutUninstall);
    connect(m_toolsButton, &QToolButton::clicked, this, &PreferenceDialog::setStackedLayoutTools);
    connect(m_helpButton, &QToolButton::clicked, this, &PreferenceDialog::setStackedLayoutHelp);
    navigationLayout->setSpacing(0);

    auto *titleLayout = new QHBoxLayout;
    titleLayout->setSpacing(0);
    titleLayout->setAlignment(Qt::AlignTop);
    m_langComboBox = new QComboBox(this);
    m_langComboBox->setObjectName("langComboBox");
    // The first two entries always show their own names; the others are translated.
    m_langComboBox->addItem(QStringLiteral("English"));
    m_langComboBox->addItem(QStringLiteral("Deutsch"));
    m_langComboBox->addItem(tr("Japanese"));
    m_langComboBox->addItem(tr("Italiano"));
    m_langComboBox->addItem(tr("French"));
    m_langComboBox->addItem(tr("Spanish"));
    m_langComboBox->addItem(tr("Portuguese"));
    m_langComboBox->addItem(tr("Simplified Chinese"));
    m_langComboBox->addItem(tr("Traditional Chinese"));
    // The three title-bar buttons get their look from the style sheet, by object name.
    m_closeButton = new QToolButton(this);
    m_closeButton->setObjectName("Close");
    m_minButton = new QToolButton(this);
    m_minButton->setObjectName("Min");
    m_homepageButton = new QToolButton(this);
    m_homepageButton->setObjectName("Homepage");
    m_titleLabel = new QLabel(this);
    m_titleLabel->setObjectName("Title");
    m_titleIconLabel = new QLabel(this);
    m_titleIconLabel->setObjectName("TitleIcon");
    m_titleIconLabel->setFixedSize(30, 27);

    titleLayout->addWidget(m_titleIconLabel);
    titleLayout->addWidget(m_titleLabel, 1);
    titleLayout->addWidget(m_langComboBox);
    titleLayout->addSpacerItem(new QSpacerItem(10, 20, QSizePolicy::Fixed, QSizePolicy::Minimum));
    titleLayout->addWidget(m_homepageButton);
    titleLayout->addSpacerItem(new QSpacerItem(5, 20, QSizePolicy::Fixed, QSizePolicy::Minimum));
    titleLayout->addWidget(m_minButton);
    titleLayout->addWidget(m_closeButton);
    titleLayout->addSpacerItem(new QSpacerItem(5, 20, QSizePolicy::Fixed, QSizePolicy::Minimum));

    auto *mainLayout = new QVBoxLayout;
    mainLayout->addLayout(titleLayout, 0);
    mainLayout->addLayout(navigationLayout, 0);
    mainLayout->addLayout(m_stackedLayout, 1);
    setLayout(mainLayout);

    updateTitleTxt();

    connect(m_closeButton, &QToolButton::clicked, this, &PreferenceDialog::slotOnClose);
    connect(m_minButton, &QToolButton::clicked, this, &PreferenceDialog::showMinimized);

    m_stackedLayout->setCurrentIndex(diskPage);
    for (QToolButton *button : navigationButtons())
        button->setEnabled(true);
    m_diskButton->setEnabled(false);

    m_sysInfoTimer = new QTimer(this);
    m_sysInfoTimer->setObjectName("sysInfoTimer");
    connect(m_sysInfoTimer, &QTimer::timeout, this, &PreferenceDialog::slotUpdateSysInfo);
    m_sysInfoTimer->start(sysInfoPeriodMs);

    setFixedSize(853, 600);

    setWindowIcon(QIcon(skinDir() + pageRows[diskPage].windowIcon));
    setWindowTitle(productWord + appName);
    m_titleIconLabel->setPixmap(QPixmap(skinDir() + pageRows[diskPage].titleIcon));

    connect(m_homepageButton, &QToolButton::clicked, this, &PreferenceDialog::on_openHomepage);
    connect(m_langComboBox, &QComboBox::currentIndexChanged, this, &PreferenceDialog::setLang);

    translate();

    show();
}

void PreferenceDialog::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint windowPos = event->position().toPoint();
    if (!isInDragArea(windowPos)) {
        QDialog::mouseMoveEvent(event);
        return;
    }
    // Keeps the point grabbed at the press under the cursor.
    move(event->globalPosition().toPoint() + m_dragWindowPos - m_dragPressPos);
}

void PreferenceDialog::mousePressEvent(QMouseEvent *event)
{
    const QPoint windowPos = event->position().toPoint();
    if (!isInDragArea(windowPos)) {
        QDialog::mousePressEvent(event);
        return;
    }
    m_dragPressPos = event->globalPosition().toPoint();
    m_dragWindowPos = m_dragPressPos - windowPos;
}

void PreferenceDialog::setStackedLayoutInfo()
{
    showPage(infoPage);
}

void PreferenceDialog::setStackedLayoutDisk()
{
    showPage(diskPage);
}

void PreferenceDialog::setStackedLayoutRegistry()
{
    showPage(registryPage);
}

void PreferenceDialog::setStackedLayoutStartup()
{
    showPage(startupPage);
}

void PreferenceDialog::setStackedLayoutUninstall()
{
    showPage(uninstallPage);
}

void PreferenceDialog::setStackedLayoutTools()
{
    showPage(toolsPage);
}

void PreferenceDialog::setStackedLayoutHelp()
{
    showPage(helpPage);
}

void PreferenceDialog::slotUpdateSysInfo()
{
    if (m_stackedLayout->currentIndex() == infoPage)
        m_optionPage->setLabelText();
}

void PreferenceDialog::slotOnClose()
{
    QCoreApplication::quit();
}

void PreferenceDialog::updateTitleTxt()
{
    m_titleLabel->setText(productWord + ' ' + tr("Cleaner") + ' ' + versionText);
}

void PreferenceDialog::on_openHomepage()
{
    // Whether a browser could be started is of no consequence to the program.
    QDesktopServices::openUrl(QUrl(homepageAddress));
}

void PreferenceDialog::setLang(int index)
{
    if (index < 0 || index >= m_langComboBox->count())
        return;
    translate();
}

void PreferenceDialog::translate()
{
    m_langComboBox->setItemText(2, tr("Japanese"));
    m_langComboBox->setItemText(3, tr("Italiano"));
    m_langComboBox->setItemText(4, tr("French"));
    m_langComboBox->setItemText(5, tr("Spanish"));
    m_langComboBox->setItemText(6, tr("Portuguese"));
    m_langComboBox->setItemText(7, tr("Simplified Chinese"));
    m_langComboBox->setItemText(8, tr("Traditional Chinese"));

    const auto buttons = navigationButtons();
    for (std::size_t index = 0; index < buttons.size(); ++index)
        buttons[index]->setText(tr(pageRows[index].buttonText));

    updateTitleTxt();
    emit sig_translate();
}

void PreferenceDialog::showPage(int index)
{
    m_stackedLayout->setCurrentIndex(index);
    const auto buttons = navigationButtons();
    for (QToolButton *button : buttons)
        button->setEnabled(true);
    buttons[index]->setEnabled(false);

    // The list of startup entries may have changed outside the program while it was hidden.
    if (index == startupPage)
        m_startupPage->loadData();

    const PageRow &row = pageRows[index];
    setWindowIcon(QIcon(skinDir() + row.windowIcon));
    m_titleIconLabel->setPixmap(QPixmap(skinDir() + row.titleIcon));
}

std::array<QToolButton *, 7> PreferenceDialog::navigationButtons() const
{
    return {m_infoButton,      m_diskButton,  m_registryButton, m_startupButton,
            m_uninstallButton, m_toolsButton, m_helpButton};
}

bool PreferenceDialog::isInDragArea(const QPoint &windowPos) const
{
    // Strict on both sides: the label's first column and first row are outside.
    const QRect area = m_titleLabel->geometry();
    return area.x() < windowPos.x() && windowPos.x() < area.x() + area.width() &&
           area.y() < windowPos.y() && windowPos.y() < area.y() + area.height();
}

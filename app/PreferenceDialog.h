#pragma once

#include <QDialog>
#include <QMouseEvent>
#include <QPoint>
#include <QTranslator>

#include <array>

class QComboBox;
class QLabel;
class QStackedLayout;
class QTimer;
class QToolButton;

class DiskWidgetPage;
class HelpWidgetPage;
class OptionWidgetPage;
class RegistryWidgetPage;
class StartupWidgetPage;
class ToolsWidgetPage;
class UninstallWidgetPage;

// The program's only top-level window: a frameless dialog of fixed size with its own title bar,
// a row of navigation buttons and a stack of seven pages. It owns the pages, which stay alive
// (and keep their state) for the whole run; only the current one is visible.
class PreferenceDialog final : public QDialog
{
    Q_OBJECT

public:
    // Builds the window and its pages and shows it. The parent is always none.
    explicit PreferenceDialog(QWidget *parent = nullptr);

signals:
    // Emitted after the window has re-set its own texts; every page re-sets its texts on it.
    void sig_translate();

public slots:
    // A press and a move inside the title label drag the window (there is no system frame).
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void setStackedLayoutInfo();
    void setStackedLayoutDisk();
    void setStackedLayoutRegistry();
    void setStackedLayoutStartup();
    void setStackedLayoutUninstall();
    void setStackedLayoutTools();
    void setStackedLayoutHelp();
    // Refreshes the Computer Info page, but only while it is the current page.
    void slotUpdateSysInfo();
    void slotOnClose();
    void updateTitleTxt();
    void on_openHomepage();
    void setLang(int index);
    void translate();

private:
    // Makes the page at index current and shows its icons.
    void showPage(int index);
    // The navigation buttons in page order.
    std::array<QToolButton *, 7> navigationButtons() const;
    bool isInDragArea(const QPoint &windowPos) const;

    QStackedLayout *m_stackedLayout = nullptr;

    OptionWidgetPage *m_optionPage = nullptr;
    DiskWidgetPage *m_diskPage = nullptr;
    RegistryWidgetPage *m_registryPage = nullptr;
    StartupWidgetPage *m_startupPage = nullptr;
    UninstallWidgetPage *m_uninstallPage = nullptr;
    ToolsWidgetPage *m_toolsPage = nullptr;
    HelpWidgetPage *m_helpPage = nullptr;

    QToolButton *m_diskButton = nullptr;
    QToolButton *m_registryButton = nullptr;
    QToolButton *m_startupButton = nullptr;
    QToolButton *m_uninstallButton = nullptr;
    QToolButton *m_toolsButton = nullptr;
    QToolButton *m_infoButton = nullptr;
    QToolButton *m_helpButton = nullptr;

    QToolButton *m_closeButton = nullptr;
    QToolButton *m_minButton = nullptr;
    QToolButton *m_homepageButton = nullptr;

    QLabel *m_titleIconLabel = nullptr;
    QLabel *m_titleLabel = nullptr;

    QComboBox *m_langComboBox = nullptr;

    // The global cursor position of the last press inside the title label, and the window's
    // position at that moment; zero until the first such press.
    QPoint m_dragPressPos;
    QPoint m_dragWindowPos;

    QTimer *m_sysInfoTimer = nullptr;

    QTranslator m_translator;
};

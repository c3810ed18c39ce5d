#pragma once

#include <QWidget>

class QLabel;

// The Startup Manager page of the main window. For now it only shows its name.
class StartupWidgetPage final : public QWidget
{
    Q_OBJECT

public:
    // The parent is the main window; its sig_translate() re-sets this page's texts.
    explicit StartupWidgetPage(QWidget *parent);

    // Rebuilds the startup list; the main window calls it on every switch to this page. The list
    // is not shown yet, so only the number of loads is kept.
    void loadData();
    int loadCount() const { return m_loadCount; }

public slots:
    void translate();

private:
    QLabel *m_nameLabel;
    int m_loadCount = 0;
};

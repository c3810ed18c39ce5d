#pragma once

#include <QWidget>

class QLabel;

// The System Tools page of the main window. For now it only shows its name.
class ToolsWidgetPage final : public QWidget
{
    Q_OBJECT

public:
    // The parent is the main window; its sig_translate() re-sets this page's texts.
    explicit ToolsWidgetPage(QWidget *parent);

public slots:
    void translate();

private:
    QLabel *m_nameLabel;
};

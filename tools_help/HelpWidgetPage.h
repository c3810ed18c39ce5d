#pragma once

#include <QWidget>

class QLabel;

// The Help page of the main window. For now it only shows its name.
class HelpWidgetPage final : public QWidget
{
    Q_OBJECT

public:
    // The parent is the main window; its sig_translate() re-sets this page's texts.
    explicit HelpWidgetPage(QWidget *parent);

public slots:
    void translate();

private:
    QLabel *m_nameLabel;
};

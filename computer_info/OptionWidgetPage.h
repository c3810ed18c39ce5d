#pragma once

#include <QWidget>

class QLabel;

// The Computer Info page of the main window. For now it only shows its name.
class OptionWidgetPage final : public QWidget
{
    Q_OBJECT

public:
    // The parent is the main window; its sig_translate() re-sets this page's texts.
    explicit OptionWidgetPage(QWidget *parent);

    // Refreshes the shown system values; the main window calls it on every timer tick while
    // this page is current. The values are not shown yet, so only the number of refreshes is
    // kept.
    void setLabelText();
    int refreshCount() const { return m_refreshCount; }

public slots:
    void translate();

private:
    QLabel *m_nameLabel;
    int m_refreshCount = 0;
};

#include "OptionWidgetPage.h"

#include <QLabel>
#include <QVBoxLayout>

OptionWidgetPage::OptionWidgetPage(QWidget *parent)
    : QWidget(parent)
    , m_nameLabel(new QLabel(this))
{
    m_nameLabel->setObjectName("labelPageName");
    m_nameLabel->setAlignment(Qt::AlignCenter);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_nameLabel);
    translate();

    // Connected by name: the page knows nothing of the window's class.
    if (parent && parent->metaObject()->indexOfSignal("sig_translate()") >= 0)
        connect(parent, SIGNAL(sig_translate()), this, SLOT(translate()));
}

void OptionWidgetPage::setLabelText()
{
    ++m_refreshCount;
}

void OptionWidgetPage::translate()
{
    m_nameLabel->setText(tr("Computer Info"));
}

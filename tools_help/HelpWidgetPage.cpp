#include "HelpWidgetPage.h"

#include <QLabel>
#include <QVBoxLayout>

HelpWidgetPage::HelpWidgetPage(QWidget *parent)
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

void HelpWidgetPage::translate()
{
    m_nameLabel->setText(tr("Help"));
}

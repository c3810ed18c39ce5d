#include "PreferenceDialog.h"
#include "AppConstants.h"
#include "OptionWidgetPage.h"
#include "StartupWidgetPage.h"

#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QHash>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedLayout>
#include <QTimer>
#include <QToolButton>
#include <QTranslator>
#include <QUrl>
#include <QtTest>

#include <memory>

namespace {

const QStringList buttonNames{"Info", "Disk", "Registry", "Startup", "Uninstall", "Tools", "Help"};

const QStringList pageClasses{"OptionWidgetPage",  "DiskWidgetPage",      "RegistryWidgetPage",
                              "StartupWidgetPage", "UninstallWidgetPage", "ToolsWidgetPage",
                              "HelpWidgetPage"};

const QStringList skinImages{"/info.png",         "/disk.png",        "/registry.png",
                             "/startup.png",      "/uninstall.png",   "/tools.png",
                             "/help.png",         "/sys_info.png",    "/sys_disk.png",
                             "/sys_registry.png", "/sys_startup.png", "/sys_uninstall.png",
                             "/sys_tools.png",    "/sys_help.png"};

QString testSkinFolder()
{
    return QCoreApplication::applicationDirPath() + "/skin";
}

// Every skin image is a plain square of its own colour, so a shown image tells its file name.
QRgb colourOfImage(int index)
{
    return qRgb(40 + 13 * index, 200 - 11 * index, 90 + 7 * index);
}

QString imageNameOf(const QImage &image)
{
    if (image.isNull())
        return "(none)";
    const QRgb colour = image.pixel(image.width() / 2, image.height() / 2) | 0xff000000u;
    for (int index = 0; index < skinImages.size(); ++index) {
        if (colour == colourOfImage(index))
            return skinImages[index];
    }
    return "(unknown image)";
}

QString windowIconName(const QWidget &window)
{
    return imageNameOf(window.windowIcon().pixmap(16, 16).toImage());
}

QString titleIconName(const PreferenceDialog &dialog)
{
    const auto *label = dialog.findChild<QLabel *>("TitleIcon");
    return label ? imageNameOf(label->pixmap().toImage()) : "(no label)";
}

QToolButton *button(const PreferenceDialog &dialog, const QString &name)
{
    return dialog.findChild<QToolButton *>(name);
}

QStringList disabledNavigationButtons(const PreferenceDialog &dialog)
{
    QStringList disabled;
    for (const QString &name : buttonNames) {
        if (!button(dialog, name)->isEnabled())
            disabled << name;
    }
    return disabled;
}

void sendMouse(QWidget *receiver, QEvent::Type type, QPoint local, QPoint global)
{
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, QPointF(local), QPointF(global), button, Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(receiver, &event);
}

// Translates every text to its context and source text, so a test sees which texts were re-set
// and in which context.
class MarkingTranslator final : public QTranslator
{
public:
    QString translate(const char *context, const char *sourceText, const char *, int) const override
    {
        return QString::fromLatin1(context) + ':' + QString::fromUtf8(sourceText);
    }
    bool isEmpty() const override { return false; }
};

} // namespace

class PreferenceDialogTest final : public QObject
{
    Q_OBJECT

public slots:
    void recordOpenedUrl(const QUrl &url) { m_openedUrls << url; }

private slots:
    void init();
    void cleanupTestCase();

    void startsOnDiskPage();
    void hasFixedFramelessShape();
    void switchesPages_data();
    void switchesPages();
    void reloadsStartupPageOnEverySwitch();
    void refreshesOnlyTheInfoPage_data();
    void refreshesOnlyTheInfoPage();
    void refreshTimerRunsOnInfoPage();
    void dragStartsOnlyStrictlyInsideTitle_data();
    void dragStartsOnlyStrictlyInsideTitle();
    void dragIgnoresMovesOutsideTitle();
    void pressOnTitleLabelStartsDrag();
    void translateReachesWindowAndPages();
    void homepageOpensProductSite();
    void minimises();
    void opensWithoutSkinImages_data();
    void opensWithoutSkinImages();
    // Runs the event loop to its end, so it comes last.
    void closeQuits();

private:
    QList<QUrl> m_openedUrls;
};

void PreferenceDialogTest::init()
{
    QDir().mkpath(testSkinFolder());
    for (int index = 0; index < skinImages.size(); ++index) {
        QImage image(16, 16, QImage::Format_RGB32);
        image.fill(colourOfImage(index));
        QVERIFY(image.save(testSkinFolder() + skinImages[index]));
    }
}

void PreferenceDialogTest::cleanupTestCase()
{
    QDir(testSkinFolder()).removeRecursively();
}

void PreferenceDialogTest::startsOnDiskPage()
{
    PreferenceDialog dialog;
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    auto *stack = dialog.findChild<QStackedLayout *>();
    QVERIFY(stack);
    QCOMPARE(stack->count(), 7);
    for (int index = 0; index < stack->count(); ++index)
        QCOMPARE(stack->widget(index)->metaObject()->className(), pageClasses[index]);
    QCOMPARE(stack->currentIndex(), 1);
    QVERIFY(stack->currentWidget()->isVisible());
    QCOMPARE(disabledNavigationButtons(dialog), QStringList{"Disk"});
    QCOMPARE(windowIconName(dialog), QString("/disk.png"));
    QCOMPARE(titleIconName(dialog), QString("/sys_disk.png"));
    QCOMPARE(dialog.findChild<StartupWidgetPage *>()->loadCount(), 0);
}

void PreferenceDialogTest::hasFixedFramelessShape()
{
    PreferenceDialog dialog;
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    QCOMPARE(dialog.objectName(), QString("MainWindow"));
    QVERIFY(dialog.windowFlags().testFlag(Qt::FramelessWindowHint));
    QCOMPARE(dialog.size(), QSize(853, 600));
    QCOMPARE(dialog.minimumSize(), QSize(853, 600));
    QCOMPARE(dialog.maximumSize(), QSize(853, 600));
    QCOMPARE(dialog.windowTitle(), QString("NimbraCleaner"));
    QCOMPARE(dialog.findChild<QLabel *>("Title")->text(), QString("Nimbra Cleaner 6.6"));
    QCOMPARE(dialog.findChild<QLabel *>("TitleIcon")->size(), QSize(30, 27));

    auto *languages = dialog.findChild<QComboBox *>("langComboBox");
    QVERIFY(languages);
    QStringList entries;
    for (int index = 0; index < languages->count(); ++index)
        entries << languages->itemText(index);
    QCOMPARE(entries,
             (QStringList{"English", "Deutsch", "Japanese", "Italiano", "French", "Spanish",
                          "Portuguese", "Simplified Chinese", "Traditional Chinese"}));

    // Navigation buttons sit left to right in page order, each with its text.
    const QStringList texts{
            "Computer Info", "Disk Cleaner", "Registry Cleaner", "Startup Manager", "Uninstaller",
            "System Tools",  "Help"};
    int lastX = -1;
    for (int index = 0; index < buttonNames.size(); ++index) {
        QToolButton *navigation = button(dialog, buttonNames[index]);
        QCOMPARE(navigation->text(), texts[index]);
        QVERIFY(navigation->x() > lastX);
        lastX = navigation->x();
    }
    for (const char *name : {"Homepage", "Min", "Close"})
        QVERIFY(button(dialog, name)->text().isEmpty());
}

void PreferenceDialogTest::switchesPages_data()
{
    QTest::addColumn<QString>("buttonName");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("windowIcon");
    QTest::addColumn<QString>("titleIcon");

    QTest::newRow("Info") << "Info" << 0 << "/info.png"
                          << "/sys_info.png";
    QTest::newRow("Disk") << "Disk" << 1 << "/disk.png"
                          << "/sys_disk.png";
    QTest::newRow("Registry") << "Registry" << 2 << "/registry.png"
                              << "/sys_registry.png";
    QTest::newRow("Startup") << "Startup" << 3 << "/startup.png"
                             << "/sys_startup.png";
    QTest::newRow("Uninstall") << "Uninstall" << 4 << "/uninstall.png"
                               << "/sys_uninstall.png";
    QTest::newRow("Tools") << "Tools" << 5 << "/tools.png"
                           << "/sys_tools.png";
    QTest::newRow("Help") << "Help" << 6 << "/help.png"
                          << "/sys_help.png";
}

void PreferenceDialogTest::switchesPages()
{
    QFETCH(QString, buttonName);
    QFETCH(int, index);
    QFETCH(QString, windowIcon);
    QFETCH(QString, titleIcon);

    PreferenceDialog dialog;
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto *stack = dialog.findChild<QStackedLayout *>();

    // Leave the start page first, so that the switch under test also re-enables a button.
    const QString other = buttonName == "Help" ? "Info" : "Help";
    QTest::mouseClick(button(dialog, other), Qt::LeftButton);
    QCOMPARE(disabledNavigationButtons(dialog), QStringList{other});

    QTest::mouseClick(button(dialog, buttonName), Qt::LeftButton);

    QCOMPARE(stack->currentIndex(), index);
    QCOMPARE(stack->currentWidget()->metaObject()->className(), pageClasses[index]);
    QVERIFY(stack->currentWidget()->isVisible());
    for (int page = 0; page < stack->count(); ++page) {
        if (page != index)
            QVERIFY(!stack->widget(page)->isVisible());
    }
    QCOMPARE(disabledNavigationButtons(dialog), QStringList{buttonName});
    QCOMPARE(windowIconName(dialog), windowIcon);
    QCOMPARE(titleIconName(dialog), titleIcon);
}

void PreferenceDialogTest::reloadsStartupPageOnEverySwitch()
{
    PreferenceDialog dialog;
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const auto *startup = dialog.findChild<StartupWidgetPage *>();

    const struct
    {
        const char *click;
        int loads;
    } steps[] = {{"Startup", 1},   {"Disk", 1},  {"Registry", 1}, {"Startup", 2}, {"Info", 2},
                 {"Uninstall", 2}, {"Tools", 2}, {"Help", 2},     {"Startup", 3}};
    for (const auto &step : steps) {
        QTest::mouseClick(button(dialog, step.click), Qt::LeftButton);
        QCOMPARE(startup->loadCount(), step.loads);
    }
}

void PreferenceDialogTest::refreshesOnlyTheInfoPage_data()
{
    QTest::addColumn<QString>("buttonName");
    QTest::addColumn<int>("refreshes");
    for (const QString &name : buttonNames)
        QTest::newRow(qPrintable(name)) << name << (name == "Info" ? 1 : 0);
}

void PreferenceDialogTest::refreshesOnlyTheInfoPage()
{
    QFETCH(QString, buttonName);
    QFETCH(int, refreshes);

    PreferenceDialog dialog;
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    // The tick is driven by hand here; the real timer is checked separately.
    dialog.findChild<QTimer *>("sysInfoTimer")->stop();
    const auto *info = dialog.findChild<OptionWidgetPage *>();
    if (button(dialog, buttonName)->isEnabled())
        QTest::mouseClick(button(dialog, buttonName), Qt::LeftButton);
    const int before = info->refreshCount();

    dialog.slotUpdateSysInfo();

    QCOMPARE(info->refreshCount() - before, refreshes);
}

void PreferenceDialogTest::refreshTimerRunsOnInfoPage()
{
    PreferenceDialog dialog;
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const auto *timer = dialog.findChild<QTimer *>("sysInfoTimer");
    QVERIFY(timer && timer->isActive());
    QCOMPARE(timer->interval(), 400);
    const auto *info = dialog.findChild<OptionWidgetPage *>();

    QTest::qWait(900);
    QCOMPARE(info->refreshCount(), 0);

    QTest::mouseClick(button(dialog, "Info"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(info->refreshCount() >= 2, 3000);

    QTest::mouseClick(button(dialog, "Tools"), Qt::LeftButton);
    const int shown = info->refreshCount();
    QTest::qWait(900);
    QCOMPARE(info->refreshCount(), shown);
}

void PreferenceDialogTest::dragStartsOnlyStrictlyInsideTitle_data()
{
    // The press point is the title label's left or top edge, plus a fraction of its width or
    // height, plus a pixel offset.
    QTest::addColumn<double>("fractionX");
    QTest::addColumn<int>("offsetX");
    QTest::addColumn<double>("fractionY");
    QTest::addColumn<int>("offsetY");
    QTest::addColumn<bool>("starts");

    QTest::newRow("first column") << 0.0 << 0 << 0.5 << 0 << false;
    QTest::newRow("second column") << 0.0 << 1 << 0.5 << 0 << true;
    QTest::newRow("first row") << 0.5 << 0 << 0.0 << 0 << false;
    QTest::newRow("second row") << 0.5 << 0 << 0.0 << 1 << true;
    QTest::newRow("top-left corner") << 0.0 << 0 << 0.0 << 0 << false;
    QTest::newRow("last column") << 1.0 << -1 << 0.5 << 0 << true;
    QTest::newRow("right of label") << 1.0 << 0 << 0.5 << 0 << false;
    QTest::newRow("last row") << 0.5 << 0 << 1.0 << -1 << true;
    QTest::newRow("below label") << 0.5 << 0 << 1.0 << 0 << false;
    QTest::newRow("left of label") << 0.0 << -2 << 0.5 << 0 << false;
    QTest::newRow("centre") << 0.5 << 0 << 0.5 << 0 << true;
    QTest::newRow("navigation bar") << 0.5 << 0 << 1.0 << 10 << false;
}

void PreferenceDialogTest::dragStartsOnlyStrictlyInsideTitle()
{
    QFETCH(double, fractionX);
    QFETCH(int, offsetX);
    QFETCH(double, fractionY);
    QFETCH(int, offsetY);
    QFETCH(bool, starts);

    PreferenceDialog dialog;
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QPoint start(120, 70);
    dialog.move(start);
    QTRY_COMPARE(dialog.pos(), start);
    const QRect title = dialog.findChild<QLabel *>("Title")->geometry();
    QVERIFY(title.width() > 20 && title.height() > 4);
    const QPoint press(title.x() + qRound(fractionX * title.width()) + offsetX,
                       title.y() + qRound(fractionY * title.height()) + offsetY);

    sendMouse(&dialog, QEvent::MouseButtonPress, press, start + press);
    // The cursor, still over the window where it was, moves to the label's centre.
    const QPoint centre = title.center();
    sendMouse(&dialog, QEvent::MouseMove, centre, start + centre);

    if (!starts) {
        // Without a press inside the label the anchor is still zero: the window jumps to the
        // cursor.
        QTRY_COMPARE(dialog.pos(), start + centre);
        return;
    }
    // The point grabbed at the press stays under the cursor.
    QTRY_COMPARE(dialog.pos() + press, start + centre);

    const QPoint moved = dialog.pos();
    const QPoint next = centre + QPoint(9, 2);
    sendMouse(&dialog, QEvent::MouseMove, next, moved + next);
    QTRY_COMPARE(dialog.pos() + press, moved + next);
}

void PreferenceDialogTest::dragIgnoresMovesOutsideTitle()
{
    PreferenceDialog dialog;
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QPoint start(60, 40);
    dialog.move(start);
    QTRY_COMPARE(dialog.pos(), start);
    const QRect title = dialog.findChild<QLabel *>("Title")->geometry();

    const QPoint press = title.center();
    sendMouse(&dialog, QEvent::MouseButtonPress, press, start + press);
    for (const QPoint outside :
         {QPoint(title.x(), title.center().y()), QPoint(title.center().x(), title.bottom() + 20),
          QPoint(400, 400)}) {
        sendMouse(&dialog, QEvent::MouseMove, outside, start + outside + QPoint(30, 30));
        QCoreApplication::processEvents();
        QCOMPARE(dialog.pos(), start);
    }

    // A later press outside the label keeps the anchor of the last press inside it.
    const QPoint elsewhere(400, 400);
    sendMouse(&dialog, QEvent::MouseButtonPress, elsewhere, start + elsewhere);
    const QPoint target = press + QPoint(-5, 3);
    sendMouse(&dialog, QEvent::MouseMove, target, start + target);
    QTRY_COMPARE(dialog.pos() + press, start + target);
}

void PreferenceDialogTest::pressOnTitleLabelStartsDrag()
{
    PreferenceDialog dialog;
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QPoint start(30, 20);
    dialog.move(start);
    QTRY_COMPARE(dialog.pos(), start);
    auto *title = dialog.findChild<QLabel *>("Title");

    // Delivered to the label as a real click would be; the label passes it on to the window.
    const QPoint grabbed(10, title->height() / 2);
    QTest::mousePress(title, Qt::LeftButton, {}, grabbed);
    const QPoint target = grabbed + QPoint(25, 1);
    QMouseEvent move(QEvent::MouseMove, QPointF(target), QPointF(title->mapToGlobal(target)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(title, &move);

    QTRY_COMPARE(dialog.pos(), start + QPoint(25, 1));
    QTest::mouseRelease(title, Qt::LeftButton, {}, target);
}

void PreferenceDialogTest::translateReachesWindowAndPages()
{
    PreferenceDialog dialog;
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    MarkingTranslator translator;
    QCoreApplication::installTranslator(&translator);
    const auto uninstall = qScopeGuard([&] { QCoreApplication::removeTranslator(&translator); });

    // Choosing a language re-sets every text of the window and of every page.
    dialog.findChild<QComboBox *>("langComboBox")->setCurrentIndex(3);

    QCOMPARE(button(dialog, "Disk")->text(), QString("PreferenceDialog:Disk Cleaner"));
    QCOMPARE(button(dialog, "Info")->text(), QString("PreferenceDialog:Computer Info"));
    QCOMPARE(dialog.findChild<QLabel *>("Title")->text(),
             QString("Nimbra PreferenceDialog:Cleaner 6.6"));
    QCOMPARE(dialog.windowTitle(), QString("NimbraCleaner"));
    auto *languages = dialog.findChild<QComboBox *>("langComboBox");
    QCOMPARE(languages->itemText(0), QString("English"));
    QCOMPARE(languages->itemText(1), QString("Deutsch"));
    QCOMPARE(languages->itemText(2), QString("PreferenceDialog:Japanese"));
    QCOMPARE(languages->itemText(8), QString("PreferenceDialog:Traditional Chinese"));

    auto *stack = dialog.findChild<QStackedLayout *>();
    // The Disk page's form texts are in the form's context.
    const auto *analyze = stack->widget(1)->findChild<QPushButton *>("pushButtonAnalyze");
    QVERIFY(analyze);
    QCOMPARE(analyze->text(), QString("DiskWidget:Analyze"));
    for (int index = 0; index < stack->count(); ++index) {
        if (pageClasses[index] == "DiskWidgetPage")
            continue;
        const auto *name = stack->widget(index)->findChild<QLabel *>("labelPageName");
        QVERIFY(name);
        QVERIFY2(name->text().startsWith(pageClasses[index] + ':'), qPrintable(name->text()));
    }
}

void PreferenceDialogTest::homepageOpensProductSite()
{
    PreferenceDialog dialog;
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    m_openedUrls.clear();
    // Qt hands the address to this handler instead of the desktop's browser.
    QDesktopServices::setUrlHandler("https", this, "recordOpenedUrl");
    QDesktopServices::setUrlHandler("http", this, "recordOpenedUrl");
    const auto unset = qScopeGuard([] {
        QDesktopServices::unsetUrlHandler("https");
        QDesktopServices::unsetUrlHandler("http");
    });

    QTest::mouseClick(button(dialog, "Homepage"), Qt::LeftButton);

    QCOMPARE(m_openedUrls.size(), 1);
    QCOMPARE(m_openedUrls.first(), QUrl(homepageAddress));
    QVERIFY(m_openedUrls.first().isValid());
    QVERIFY(!m_openedUrls.first().host().isEmpty());
}

void PreferenceDialogTest::minimises()
{
    PreferenceDialog dialog;
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QVERIFY(!dialog.isMinimized());

    QTest::mouseClick(button(dialog, "Min"), Qt::LeftButton);

    QTRY_VERIFY(dialog.windowState().testFlag(Qt::WindowMinimized));
}

void PreferenceDialogTest::opensWithoutSkinImages_data()
{
    QTest::addColumn<bool>("keepFolder");
    QTest::newRow("empty skin folder") << true;
    QTest::newRow("no skin folder") << false;
}

void PreferenceDialogTest::opensWithoutSkinImages()
{
    QFETCH(bool, keepFolder);
    QVERIFY(QDir(testSkinFolder()).removeRecursively());
    if (keepFolder)
        QVERIFY(QDir().mkpath(testSkinFolder()));

    PreferenceDialog dialog;
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.size(), QSize(853, 600));
    QCOMPARE(titleIconName(dialog), QString("(none)"));

    auto *stack = dialog.findChild<QStackedLayout *>();
    QTest::mouseClick(button(dialog, "Registry"), Qt::LeftButton);
    QCOMPARE(stack->currentIndex(), 2);
    QCOMPARE(disabledNavigationButtons(dialog), QStringList{"Registry"});
    QCOMPARE(titleIconName(dialog), QString("(none)"));
}

void PreferenceDialogTest::closeQuits()
{
    PreferenceDialog dialog;
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QSignalSpy aboutToQuit(qApp, &QCoreApplication::aboutToQuit);

    QTimer::singleShot(0, &dialog,
                       [&] { QTest::mouseClick(button(dialog, "Close"), Qt::LeftButton); });
    // Ends the loop with another code if Close fails to.
    QTimer watchdog;
    watchdog.setSingleShot(true);
    connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    watchdog.start(5000);

    QCOMPARE(QApplication::exec(), 0);
    QCOMPARE(aboutToQuit.count(), 1);
}

QTEST_MAIN(PreferenceDialogTest)
#include "PreferenceDialogTest.moc"

// A small window with every control of the widgets layer laid out as the messages dialog
// lays them out, painted by a window painter in a chosen skin. The accessibility test reads
// it through AT-SPI; with --screenshot it saves a picture of itself as the screen shows it
// and ends, which is how its look is checked.
//
// Usage: widgets_showcase [--skins-folder DIR] [--skin NAME] [--screenshot FILE]
// Prints "ready" once its window is active, and "checked <list> <row> <0|1>" whenever the
// user ticks or clears a check box.

#include "painter/Colorings.h"
#include "painter/WindowPainter.h"
#include "skins/Skins.h"
#include "widgets/ElListBox.h"
#include "widgets/ElTree.h"
#include "widgets/FreshTabSet.h"
#include "widgets/RoundTransButton.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QTimer>

#include <cstdio>
#include <string>

namespace pellora {
namespace {

class ShowcaseWindow : public QWidget {
public:
    ShowcaseWindow(TWindowPainter& painter, const TSkin* skin) : Painter(painter) {
        setWindowTitle(QStringLiteral("Pellora - Widgets"));
        setFixedSize(586, 373);
        Build();
        Painter.SkinButtons = true;
        Painter.ApplyToForm(this);
        if (skin != nullptr)
            ApplyTabSetColoring(Tabs, *skin);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        Painter.PaintBackground(painter, rect());
    }

private:
    void Build() {
        auto* catLabel = new QLabel(QStringLiteral("&Categories:"), this);
        catLabel->move(16, 16);
        auto* categories = new TCheckListBox(this);
        categories->setGeometry(16, 58, 137, 113);
        categories->setAccessibleName(QStringLiteral("Categories"));
        categories->setFrameShape(QFrame::NoFrame);
        QFont categoryFont = categories->font();
        categoryFont.setPixelSize(15);
        categories->setFont(categoryFont);
        categories->SetItemHeight(16);
        int group = 1;
        for (const char* name : {"Reality checks", "Tasks", "Affirmations", "Quotes"}) {
            categories->Items().Add({QString::fromLatin1(name), group, 0, QString(), group != 2});
            ++group;
        }
        categories->SetSelected(0);
        catLabel->setBuddy(categories);
        Report(categories, "categories");

        auto* msgLabel = new QLabel(QStringLiteral("Messages In Selected Category:"), this);
        msgLabel->move(176, 16);

        Tabs = new TFreshTabSet(this);
        Tabs->setGeometry(176, 32, 385, 25);
        Tabs->setAccessibleName(QStringLiteral("Message pages"));
        for (const char* caption : {"&Selected", "&Private Library", "P&ublic Library"})
            Tabs->addTab(QString::fromLatin1(caption));
        Tabs->SetTabWidth(120);
        QFont tabFont(QStringLiteral("Arial"));
        tabFont.setPixelSize(12);
        tabFont.setBold(true);
        Tabs->setFont(tabFont);
        Tabs->SetAllItemColors(QColor(), QColor(Qt::white));

        auto* pages = new QStackedWidget(this);
        pages->setGeometry(176, 56, 385, 258);
        QObject::connect(Tabs, &TFreshTabSet::OnTabSwitch, pages, &QStackedWidget::setCurrentIndex);

        auto* selected = new TElListBox;
        selected->setAccessibleName(QStringLiteral("Selected messages"));
        selected->setFrameShape(QFrame::NoFrame);
        selected->Items().Add(
            {QStringLiteral("Am I dreaming?"), 12, 1, QStringLiteral("EN"), false});
        selected->Items().Add(
            {QStringLiteral("Look at your hands."), 7, 1, QStringLiteral("EN"), false});
        selected->SetSelected(1);
        pages->addWidget(selected);

        auto* own = new QWidget;
        auto* tree = new TElTree(own);
        tree->setGeometry(0, 0, 385, 169);
        tree->setAccessibleName(QStringLiteral("Messages"));
        tree->setFrameShape(QFrame::NoFrame);
        tree->SetLineHeight(17);
        std::vector<TListItem> lines;
        const char* texts[] = {"Am I dreaming?", "Look at your hands.", "Count your fingers.",
                               "Is the text the same when you read it twice?",
                               "What did you do an hour ago?"};
        int id = 1;
        for (const char* text : texts) {
            lines.push_back({QString::fromLatin1(text), -id, 1, QStringLiteral("EN"), id % 2 == 1});
            ++id;
        }
        tree->Items().Assign(std::move(lines));
        tree->SetSelected(1);
        Report(tree, "messages");
        auto* language = new QLabel(QStringLiteral("&Language:"), own);
        language->setGeometry(96, 216, 193, 14);
        language->setAlignment(Qt::AlignHCenter);
        auto* combo = new QComboBox(own);
        combo->setGeometry(96, 230, 209, 22);
        combo->addItems({QStringLiteral("English - EN"), QStringLiteral("French - FR")});
        language->setBuddy(combo);
        auto* add = new QPushButton(QStringLiteral("&Add"), own);
        add->setGeometry(24, 176, 75, 25);
        pages->addWidget(own);
        pages->addWidget(new QWidget);
        Tabs->setCurrentIndex(1);

        auto* round = new TRoundTransButton(QStringLiteral("&Round"), this);
        round->setGeometry(176, 336, 75, 25);
        round->OnNeedBackground = [this](TRoundTransButton* sender, QPainter& painter) {
            Painter.PaintControlBackground(sender, painter);
        };
        auto* ok = new QPushButton(QStringLiteral("&OK"), this);
        ok->setGeometry(384, 336, 75, 25);
        ok->setDefault(true);
        auto* cancel = new QPushButton(QStringLiteral("&Cancel"), this);
        cancel->setGeometry(472, 336, 75, 25);
        QObject::connect(cancel, &QPushButton::clicked, this, &QWidget::close);
    }

    template <class View> static void Report(View* view, const char* name) {
        QObject::connect(view, &View::OnItemChecked, view, [view, name](int row) {
            std::printf("checked %s %d %d\n", name, row, view->Items().Item(row).Checked ? 1 : 0);
            std::fflush(stdout);
        });
    }

    TWindowPainter& Painter;
    TFreshTabSet* Tabs = nullptr;
};

int Run(int argc, char** argv) {
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("widgets_showcase"));
    std::string skinsFolder;
    std::string skinName = TSkins::StandardName;
    QString screenshot;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--skins-folder"))
            skinsFolder = args[i + 1].toStdString();
        else if (args[i] == QLatin1String("--skin"))
            skinName = args[i + 1].toStdString();
        else if (args[i] == QLatin1String("--screenshot"))
            screenshot = args[i + 1];
    }

    TSkins skins;
    if (!skinsFolder.empty())
        skins.Scan(skinsFolder);
    skins.SelectByName(skinName);
    if (skins.Current() == nullptr) {
        std::fprintf(stderr, "widgets_showcase: no skin \"%s\" in \"%s\"\n", skinName.c_str(),
                     skinsFolder.c_str());
        return 2;
    }
    TWindowPainter painter;
    skins.Apply(skins.ItemIndex(), painter);

    ShowcaseWindow window(painter, skins.Current());
    window.move(40, 40);
    window.show();
    window.activateWindow();

    // Ready once the window is active; a screenshot is taken then, one event round later so
    // the first paint has reached the screen.
    QTimer poll;
    poll.setInterval(20);
    QTimer shoot;
    shoot.setSingleShot(true);
    shoot.setInterval(0);
    QObject::connect(&poll, &QTimer::timeout, &window, [&] {
        if (!window.isActiveWindow())
            return;
        poll.stop();
        std::printf("ready\n");
        std::fflush(stdout);
        if (!screenshot.isEmpty())
            shoot.start();
    });
    QObject::connect(&shoot, &QTimer::timeout, &window, [&] {
        window.repaint();
        const QRect frame = window.frameGeometry();
        const QPixmap shot =
            window.screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
        const bool saved = shot.save(screenshot);
        if (!saved)
            std::fprintf(stderr, "widgets_showcase: cannot write \"%s\"\n",
                         screenshot.toLocal8Bit().constData());
        app.exit(saved ? 0 : 1);
    });
    poll.start();
    return app.exec();
}

} // namespace
} // namespace pellora

int main(int argc, char** argv) {
    return pellora::Run(argc, argv);
}

// The messages dialog with a large library and selection, on Qt's offscreen platform:
// opening it up to its first paint (goal: under 150 ms with a 10,000-message library and a
// 10,000-line selection), switching the category or the library's language until the tree is
// refilled and painted (goal: under 50 ms), and a 50,000-line download from the exchange's CGI
// programs under lighttpd on 127.0.0.1 until the library page shows it (goal: under 1 s).
#include "ExchangeStore.h"
#include "core/PelloraFold.h"
#include "core/Settings.h"
#include "painter/WindowPainter.h"
#include "platform/FileUtil.h"
#include "platform/IniFile.h"
#include "platform/StrUtils.h"
#include "support/ExchangeServer.h"
#include "support/TempDir.h"
#include "ui/Config_InstMsg_Fra.h"
#include "ui/Config_Messages.h"
#include "ui/MsgCfg_LibFrm.h"
#include "ui/ProgramContext.h"
#include "ui/WindowSystem.h"
#include "widgets/ElListBox.h"
#include "widgets/ElTree.h"
#include "widgets/FreshTabSet.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QImage>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <iterator>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

using namespace pellora;

namespace {

constexpr int LibrarySize = 10000;
constexpr int SelectionSize = 10000;
constexpr int DownloadLines = 50000;

const char* const Words[] = {"look",  "at",      "your",   "hands", "are",    "you", "dreaming",
                             "now",   "breathe", "slowly", "and",   "notice", "the", "light",
                             "today", "is",      "a",      "good",  "day",    "to",  "remember"};

std::string Text(std::mt19937& random) {
    std::string text;
    const std::size_t length = 40 + random() % 41;
    while (text.size() < length)
        text += std::string(text.empty() ? "" : " ") + Words[random() % std::size(Words)];
    text.resize(length);
    return text;
}

// A library of `count` messages, all of the first group (the category the dialog opens on).
std::vector<std::string> MakeLibrary(int count, int firstId, int groups) {
    std::mt19937 random(20260105u);
    std::vector<std::string> lines;
    lines.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        lines.push_back(Format("|NEW|%d|%d|||", 1 + i % groups, firstId + i) + Text(random));
    return lines;
}

// Bounded wait for something the event loop brings about.
bool SpinUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() >= timeoutMs)
            return done();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// A user's data folder with a 10,000-message English library in the first category, a German
// one of the same size, and a 10,000-line selection of both in that category.
struct TUserData {
    TUserData() {
        const std::string data = Home / "data";
        Folders = std::make_unique<TPellFolders>(PELLORA_BUILD_DIR "/bin/pellora", data, "pellora");
        WriteTextLines(Folders->LocalFolder() + "en/messages.cfg", MakeLibrary(LibrarySize, 1, 1));
        WriteTextLines(Folders->LocalFolder() + "de/messages.cfg",
                       MakeLibrary(LibrarySize, 100001, 1));
        std::vector<std::string> selection;
        selection.reserve(SelectionSize);
        std::mt19937 random(7u);
        for (int i = 0; i < SelectionSize; ++i)
            selection.push_back(i % 2 == 0 ? Format("EN|1|%d|", 1 + i) + Text(random)
                                           : Format("DE|1|%d|", 100001 + i) + Text(random));
        WriteTextLines(Folders->SelectsFile(), selection);
        Context = std::make_unique<TProgramContext>(*Folders, "", MakeWindowSystem());
        Context->ErrorReport = [](const QString& text) {
            std::fprintf(stderr, "bench_messages_dlg: %s\n", text.toUtf8().constData());
        };
    }

    std::unique_ptr<TMessagesDlg> OpenDialog() const {
        auto dialog = std::make_unique<TMessagesDlg>(*Context);
        Context->Painter().ApplyToForm(dialog.get());
        dialog->Open(Folders->PrefsFile(), Folders->SelectsFile());
        return dialog;
    }

    test::TempDir Home;
    std::unique_ptr<TPellFolders> Folders;
    std::unique_ptr<TProgramContext> Context;
};

TUserData& UserData() {
    static TUserData data;
    return data;
}

void Paint(QWidget* widget) {
    QImage image = widget->grab().toImage();
    benchmark::DoNotOptimize(image.bits());
}

void BM_OpenToFirstPaint(benchmark::State& state) {
    TUserData& data = UserData();
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the loop idiom
        std::unique_ptr<TMessagesDlg> dialog = data.OpenDialog();
        dialog->show();
        Paint(dialog.get());
        state.PauseTiming();
        if (dialog->InstalledMsgFrame1->PopupListBox->Items().Count() != SelectionSize ||
            dialog->LibMsgFrame1->PopupTree->Items().Count() != LibrarySize)
            state.SkipWithError("the dialog did not show the whole library and selection");
        dialog.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_OpenToFirstPaint)->Unit(benchmark::kMillisecond);

// Into the category of 10,000 messages from an empty one; the way out is not timed.
void BM_SwitchCategory(benchmark::State& state) {
    TUserData& data = UserData();
    std::unique_ptr<TMessagesDlg> dialog = data.OpenDialog();
    dialog->show();
    dialog->FreshTabSet1->setCurrentIndex(2);
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the loop idiom
        state.PauseTiming();
        dialog->CategoryListBox->SetSelected(1);
        state.ResumeTiming();
        dialog->CategoryListBox->SetSelected(0);
        Paint(dialog->LibMsgFrame1->PopupTree);
    }
    if (dialog->LibMsgFrame1->PopupTree->Items().Count() != LibrarySize)
        state.SkipWithError("the category did not show the library");
}
BENCHMARK(BM_SwitchCategory)->Unit(benchmark::kMillisecond);

// The library page from one 10,000-message language to the other.
void BM_SwitchLibraryLanguage(benchmark::State& state) {
    TUserData& data = UserData();
    std::unique_ptr<TMessagesDlg> dialog = data.OpenDialog();
    dialog->show();
    dialog->FreshTabSet1->setCurrentIndex(2);
    QComboBox* languages = dialog->LibMsgFrame1->ComboBox1;
    const int german = languages->findText(QStringLiteral("Deutsch - DE"));
    const int english = languages->findText(QStringLiteral("English - EN"));
    int next = german;
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the loop idiom
        languages->setCurrentIndex(next);
        Paint(dialog->LibMsgFrame1->PopupTree);
        next = next == german ? english : german;
    }
    if (dialog->LibMsgFrame1->PopupTree->Items().Count() != LibrarySize)
        state.SkipWithError("the language did not show its library");
}
BENCHMARK(BM_SwitchLibraryLanguage)->Unit(benchmark::kMillisecond);

// The exchange seeded with a 50,000-line English library, and a user pointed at it.
struct TExchange {
    TExchange() {
        {
            TSqliteStore store(Work / "exchange.db", TSqliteStore::TOpenMode::Create);
            store.Import("EN", MakeLibrary(DownloadLines, 1, 4));
            IniFile prefs(UserData().Folders->PrefsFile());
            // An id of its own up front, so no iteration pays for the access request.
            WriteKey(prefs, keys::AccessId,
                     static_cast<std::int32_t>(store.RequestAccess("127.0.0.1", true)));
        }
        Server = std::make_unique<test::ExchangeServer>(Work / "exchange.db");
        IniFile prefs(UserData().Folders->PrefsFile());
        WriteKey(prefs, keys::PelloraExchange, Server->Base());
    }
    test::TempDir Work;
    std::unique_ptr<test::ExchangeServer> Server;
};

// From the click on "&Check Website For Updates" to the library page showing the downloaded
// library: the request, the worker storing 50,000 lines, and the page reading them again.
void BM_Download50000LinesAndReload(benchmark::State& state) {
    std::unique_ptr<TExchange> exchange;
    try {
        exchange = std::make_unique<TExchange>();
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return;
    }
    TUserData& data = UserData();
    std::unique_ptr<TMessagesDlg> dialog = data.OpenDialog();
    dialog->show();
    dialog->FreshTabSet1->setCurrentIndex(2);
    TLibMsgFrame* page = dialog->LibMsgFrame1;
    auto box = [&]() -> QMessageBox* {
        for (QMessageBox* found : dialog->findChildren<QMessageBox*>())
            if (found->isVisible())
                return found;
        return nullptr;
    };
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the loop idiom
        state.PauseTiming();
        {
            IniFile prefs(data.Folders->PrefsFile());
            keys::WriteLastModified(prefs, "EN", "");
        }
        state.ResumeTiming();
        page->DownloadBtn->click();
        if (!SpinUntil([&] { return box() != nullptr; }, 60000)) {
            state.SkipWithError("no outcome came");
            break;
        }
        Paint(page->PopupTree);
        state.PauseTiming();
        const QString text = box()->text();
        box()->button(QMessageBox::Ok)->click();
        SpinUntil([&] { return box() == nullptr; }, 5000);
        if (!text.startsWith(QStringLiteral("New messages have been downloaded")) ||
            page->PopupTree->Items().Count() != DownloadLines / 4) {
            state.SkipWithError(("the download did not come: " + text).toStdString().c_str());
            break;
        }
        state.ResumeTiming();
    }
}
// The server's processes and the worker thread do most of the work: wall time is what counts.
BENCHMARK(BM_Download50000LinesAndReload)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // The pages choose the user's language first.
    ::setenv("LC_ALL", "C.UTF-8", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

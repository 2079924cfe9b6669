// The messages dialog's check-box tree with a library of 10,000 messages: filling it for a
// category or language (texts converted from the collections' UTF-8, half of them ticked as
// installed) and drawing it, and building a new tree up to its first paint. Runs on Qt's
// offscreen platform.

#include "widgets/ElTree.h"

#include <QApplication>
#include <QImage>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

using namespace pellora;

namespace {

constexpr int LibrarySize = 10000;

struct Message {
    std::string Text;
    int Id;
};

// What a collection hands the page: UTF-8 texts of a typical length with their numbers.
const std::vector<Message>& Library() {
    static const std::vector<Message> messages = [] {
        std::vector<Message> list;
        list.reserve(LibrarySize);
        for (int id = 1; id <= LibrarySize; ++id)
            list.push_back({"Is this a dream? Look at your hands and count your fingers, message " +
                                std::to_string(id),
                            id});
        return list;
    }();
    return messages;
}

const std::vector<int>& Installed() {
    static const std::vector<int> ids = [] {
        std::vector<int> list;
        for (int id = 2; id <= LibrarySize; id += 2)
            list.push_back(id);
        return list;
    }();
    return ids;
}

// Clears and refills the tree as a page does when the category or language changes.
void Fill(TElTree& tree) {
    std::vector<TListItem> lines;
    lines.reserve(Library().size());
    for (const Message& message : Library())
        lines.push_back(
            {QString::fromUtf8(message.Text.data(), static_cast<qsizetype>(message.Text.size())),
             message.Id, 1, QStringLiteral("EN"), false});
    tree.Items().Clear();
    tree.Items().Assign(std::move(lines));
    tree.Items().CheckIds(Installed());
}

void BM_RefillTreeAndPaint(benchmark::State& state) {
    TElTree tree;
    tree.SetLineHeight(17);
    tree.resize(385, 169);
    tree.show();
    QImage canvas(tree.size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the loop idiom
        Fill(tree);
        tree.render(&canvas);
        benchmark::DoNotOptimize(canvas.bits());
    }
    state.SetItemsProcessed(state.iterations() * LibrarySize);
}
BENCHMARK(BM_RefillTreeAndPaint)->Unit(benchmark::kMillisecond);

void BM_NewTreeToFirstPaint(benchmark::State& state) {
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the loop idiom
        TElTree tree;
        tree.SetLineHeight(17);
        tree.resize(385, 169);
        Fill(tree);
        tree.show();
        QImage canvas = tree.grab().toImage();
        benchmark::DoNotOptimize(canvas.bits());
    }
    state.SetItemsProcessed(state.iterations() * LibrarySize);
}
BENCHMARK(BM_NewTreeToFirstPaint)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// Style sheet speed: parsing a sheet of 1,000 rules (goal: under 5 ms) and the lookups the
// painter makes when a skin is loaded.

#include "skins/StyleSheet.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

using namespace pellora;

namespace {

// Rules in the shapes skins use: one-line and multi-line blocks, comments, colour names,
// hex colours, quoted values, sizes and a background image.
std::vector<std::string> MakeSheet(int rules) {
    static const char* const names[] = {"navy", "LightGrey", "Tomato", "papayawhip", "teal"};
    std::vector<std::string> lines;
    for (int i = 0; i < rules; ++i) {
        std::string selector = ".rule" + std::to_string(i);
        const char* name = names[i % 5];
        switch (i % 3) {
        case 0:
            lines.push_back(selector + ", " + selector + "_alt { color: " + name +
                            "; background-color: #" + std::to_string(100000 + i % 900000) + " }");
            break;
        case 1:
            lines.push_back("/* rule " + std::to_string(i) + " */");
            lines.push_back(selector);
            lines.push_back("{");
            lines.push_back("  background-image: url('tile" + std::to_string(i) + ".png');");
            lines.push_back("  font-family: \"Arial\"; font-size: 10pt;");
            lines.push_back("  color: '" + std::string(name) + "';");
            lines.push_back("}");
            break;
        default:
            lines.push_back(selector + " {");
            lines.push_back("  border-color: #A0B0C0; /* frame */ margin-left: 4px;");
            lines.push_back("  color: " + std::string(name) + " }");
            break;
        }
    }
    lines.push_back("body { background-color: #C0C0C0; color: black; "
                    "background-image: url(back.jpg) }");
    return lines;
}

void BM_ParseSheet(benchmark::State& state) {
    const auto lines = MakeSheet(static_cast<int>(state.range(0)));
    TStyleSheet sheet;
    for (auto _ : state) {
        sheet.LoadFromLines(lines);
        benchmark::DoNotOptimize(sheet.Count());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ParseSheet)->Arg(1000)->Unit(benchmark::kMillisecond);

// What loading one skin asks of a large sheet; "body" is its last rule, the worst case.
void BM_SkinLookups(benchmark::State& state) {
    TStyleSheet sheet;
    sheet.LoadFromLines(MakeSheet(1000));
    for (auto _ : state) {
        TColor color = 0;
        std::string value, name;
        sheet.GetColor("body", "background-color", color, 0);
        sheet.GetColor("body", "color", color, 0);
        if (sheet.GetValue("body", "background-image", value))
            TStyleSheet::ParseUrl(value, name);
        for (const char* selector :
             {".caption", ".label", ".list", ".list_sel_focus", ".list_sel_hide", ".button_up"}) {
            sheet.GetColor(selector, "color", color, 0);
            sheet.GetColor(selector, "background-color", color, 0);
        }
        benchmark::DoNotOptimize(color);
        benchmark::DoNotOptimize(name);
    }
}
BENCHMARK(BM_SkinLookups)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();

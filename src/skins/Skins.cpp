#include "skins/Skins.h"

#include "platform/Errors.h"
#include "platform/FileUtil.h"
#include "platform/StrUtils.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace pellora {

namespace {

// Credits are a few lines of text; a bigger file is not read at all.
constexpr std::uintmax_t MaxCreditsBytes = std::uintmax_t{256} * 1024;

} // namespace

void TSkin::LoadCredits(const std::string& fileName) {
    Credits.clear();
    std::error_code error;
    auto size = std::filesystem::file_size(fileName, error);
    if (error || size > MaxCreditsBytes)
        return;
    try {
        Credits = JoinTextLines(ReadTextLines(fileName));
    } catch (const EFileError&) {
        Credits.clear();
    }
}

TSkins::TSkins() {
    auto standard = std::make_unique<TSkin>(StandardName);
    standard->Credits = StandardCredits;
    List.push_back(std::move(standard));
}

void TSkins::Scan(const std::string& folder) {
    Folder = folder.empty() ? std::string() : AddTrailingSlash(folder);
    if (Folder.empty())
        return;
    // Directory order is arbitrary here; name order keeps the chooser's list stable.
    std::vector<std::string> names = ListFolder(Folder);
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        std::string ua = UpperCaseAscii(a);
        std::string ub = UpperCaseAscii(b);
        return ua != ub ? ua < ub : a < b;
    });
    for (const auto& name : names)
        AddSkin(name, Folder + name + "/");
}

void TSkins::AddSkin(const std::string& name, const std::string& skinFolder) {
    std::string sheetFile = FindIgnoreCase(skinFolder, "pellora.css");
    if (sheetFile.empty() || !FileExists(sheetFile))
        return;
    auto skin = std::make_unique<TSkin>(name);
    try {
        skin->LoadFromFile(sheetFile);
    } catch (const EFileError&) {
        // An unreadable sheet makes the folder no skin, like a missing one; one broken skin
        // must not keep the program from starting.
        return;
    }
    std::string creditsFile = FindIgnoreCase(skinFolder, "credits.txt");
    if (!creditsFile.empty())
        skin->LoadCredits(creditsFile);
    List.push_back(std::move(skin));
}

void TSkins::SetItemIndex(int index) {
    Index = index;
    if (OnChange)
        OnChange(*this);
}

TSkin* TSkins::Current() {
    if (Index < 0 || Index >= Count())
        return nullptr;
    return List[static_cast<std::size_t>(Index)].get();
}

const TSkin* TSkins::Current() const {
    if (Index < 0 || Index >= Count())
        return nullptr;
    return List[static_cast<std::size_t>(Index)].get();
}

std::string TSkins::CurrentName() const {
    const TSkin* skin = Current();
    return skin == nullptr ? std::string() : skin->Name;
}

void TSkins::SelectByName(std::string_view name) {
    for (int i = 0; i < Count(); ++i)
        if (List[static_cast<std::size_t>(i)]->Name == name) {
            SetItemIndex(i);
            return;
        }
}

void TSkins::Apply(int index, TSkinPainter& painter) const {
    if (List.empty())
        return;
    Assert(index >= 0 && index < Count(), "Skin index out of range in Apply");
    const TSkin& skin = *List[static_cast<std::size_t>(index)];
    painter.LoadSkin(Folder + skin.Name, skin, skin.Credits);
}

} // namespace pellora

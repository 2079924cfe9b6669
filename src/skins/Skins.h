#pragma once

#include "skins/StyleSheet.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace pellora {

// One skin: a folder below the skins folder with its parsed "pellora.css".
class TSkin : public TStyleSheet {
public:
    explicit TSkin(std::string name) : Name(std::move(name)) {}

    // The file's lines joined with CR LF after each; empty when the file is missing or cannot
    // be read (credits are decoration, never a reason to lose the skin).
    void LoadCredits(const std::string& fileName);

    std::string Name;
    std::string Credits;
};

// What a skin is loaded into: the window painter implements this.
class TSkinPainter {
public:
    virtual ~TSkinPainter() = default;
    // `folder` is the skin's folder without a trailing separator.
    virtual void LoadSkin(const std::string& folder, const TStyleSheet& sheet,
                          const std::string& credits) = 0;
};

// The skins found below the skins folder, with the built-in "Standard" skin always first,
// and which of them is current.
class TSkins {
public:
    static constexpr const char* StandardName = "Standard";
    static constexpr const char* StandardCredits = "(anonymous)";

    // Holds only the built-in skin; ItemIndex is -1.
    TSkins();
    TSkins(const TSkins&) = delete;
    TSkins& operator=(const TSkins&) = delete;

    // Adds every sub-folder holding a "pellora.css" (any letter case) as a skin named after
    // the folder, in name order. A missing folder adds nothing. Does not fire OnChange.
    void Scan(const std::string& folder);

    int Count() const { return static_cast<int>(List.size()); }
    // Throws std::out_of_range for an index outside 0 to Count() - 1.
    TSkin& Item(int index) { return *List.at(static_cast<std::size_t>(index)); }
    const TSkin& Item(int index) const { return *List.at(static_cast<std::size_t>(index)); }

    int ItemIndex() const { return Index; }
    // Stores the index unchecked and always fires OnChange, even when it is unchanged (the
    // handler reloads the skin engine's file).
    void SetItemIndex(int index);

    // The entry at ItemIndex, or null when ItemIndex is out of range.
    TSkin* Current();
    const TSkin* Current() const;
    // Current()'s name, or empty when there is none.
    std::string CurrentName() const;

    // Makes the first entry named exactly `name` (case-sensitive) current and fires OnChange;
    // changes nothing and fires nothing when no entry has that name.
    void SelectByName(std::string_view name);

    // Loads entry `index` into the painter, with SkinsFolder + the entry's name as its folder.
    // Throws EAssertionFailed for an index out of range.
    void Apply(int index, TSkinPainter& painter) const;

    // The folder given to Scan, ending with '/'; empty before Scan.
    const std::string& SkinsFolder() const { return Folder; }

    // Called with this list whenever the current skin is set.
    std::function<void(TSkins& sender)> OnChange;

private:
    void AddSkin(const std::string& name, const std::string& skinFolder);

    std::vector<std::unique_ptr<TSkin>> List;
    int Index = -1;
    std::string Folder;
};

} // namespace pellora

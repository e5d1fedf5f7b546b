#pragma once
// Moves a storage root (library file, Repos, Thumb) to a new folder without ever losing or
// orphaning a photo: every step can be undone until the caller's commit succeeds, a move
// across file systems copies and checks before anything is deleted, and a failure puts every
// file back where it was.

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

enum class RootMoveStatus {
    Moved,    // everything is at the new root and the commit succeeded
    SameRoot, // both paths name the same folder: nothing to move
    Refused,  // the move cannot be done safely; nothing was touched
    Failed,   // a step failed; everything was put back at the old root
};

class CRootMover {
public:
    CRootMover(const fs::path& oldRoot, const fs::path& newRoot);

    // Copies even when a rename would work (to exercise the cross-file-system path).
    void SetForceCopy(bool forceCopy) { m_forceCopy = forceCopy; }

    // Refuses an empty target, a target inside the old root or containing it, a target that
    // is not a folder, and a target that already holds a library file or a non-empty Repos or
    // Thumb folder (merging two libraries would orphan one of them).
    RootMoveStatus Check(std::string& reason) const;
    // The target holds a library file: Check refuses it, but it can be used as it is.
    bool TargetHoldsLibrary() const;
    // For using the library already at the target instead of moving: refuses what Check
    // refuses about the two folders' places (empty, nested, not a folder) and a target without
    // a library file. Moved means the target can be adopted.
    RootMoveStatus CheckAdopt(std::string& reason) const;

    // Check, then move. commit runs once everything is in place at the new root and before any
    // source is deleted; when it returns false the move is undone. The library must be closed.
    RootMoveStatus Move(const std::function<bool()>& commit, std::string& reason);

    const fs::path& OldRoot() const { return m_oldRoot; }
    const fs::path& NewRoot() const { return m_newRoot; }

private:
    // The checks both Check and CheckAdopt make; Moved when the places allow either.
    RootMoveStatus CheckPlaces(std::string& reason) const;

    struct Step {
        fs::path source;
        fs::path target;
        bool copied = false; // false: renamed
    };

    bool MoveItem(const fs::path& source, const fs::path& target, std::string& reason);
    void Undo();

    fs::path m_oldRoot;
    fs::path m_newRoot;
    bool m_forceCopy = false;
    std::vector<Step> m_done;
};

// Copies a file, folder tree or symbolic link without overwriting anything; every copied file
// is flushed to disk and its size checked against the source. On failure the partial copy is
// removed.
bool CopyTreeChecked(const fs::path& source, const fs::path& target, std::string& reason);

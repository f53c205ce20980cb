// Where the table component gets its cursors from.
//
// The dataset components work on the abstract TABSCursor; the concrete
// cursor of the databases held by this process is made by the maker that
// its module installs (once, at start-up, before any component opens a
// table). Tests install a cursor of their own the same way.
//
// Threads: install the maker before components run on other threads; the
// maker itself is read under no lock.
#pragma once

#include <memory>

class TABSCursor;

// Makes a new, unattached cursor; nil when it cannot.
using TABSCursorMaker = std::unique_ptr<TABSCursor> (*)();

// Installs `maker` (nil removes it) and returns the previous one.
TABSCursorMaker SetCursorMaker(TABSCursorMaker maker) noexcept;
TABSCursorMaker CursorMaker() noexcept;

// A new cursor from the installed maker; nil when no maker is installed or
// the maker made none.
std::unique_ptr<TABSCursor> MakeLocalCursor();

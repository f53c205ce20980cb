// Where the table component gets its cursors from.
//
// The dataset components work on the abstract TABSCursor. Without an
// installed maker they get the local cursor (TABSLocalCursor) of the
// databases held by this process; a test may install a cursor of its own.
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

// A new cursor: the installed maker's (nil when it made none), else a
// TABSLocalCursor.
std::unique_ptr<TABSCursor> MakeLocalCursor();

// Every global that morvane.h declares, by name, for the unit tests: a
// fingerprint of its value, or the reason it is left out. The unit test
// binary compares the fingerprints before and after every test and fails the
// test that leaves one changed (see unit_main.cpp); a test reads morvane.h and
// fails when it declares a global that this list does not name. So a new
// global is either kept by KeptEditorState or exempted here, on purpose.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct EditorGlobal {
    const char* name;                         // as declared in morvane.h
    std::function<std::string()> fingerprint; // empty when exempt
    const char* exempt_because = nullptr;     // why a changed value cannot leak
};
const std::vector<EditorGlobal>& editor_globals();

// The fingerprints of every global that is not exempt, in the list's order.
using GlobalsSnapshot = std::vector<std::string>;
GlobalsSnapshot snapshot_globals();
// The names of the globals whose fingerprint differs from `before`.
std::vector<std::string> globals_changed_since(const GlobalsSnapshot& before);

// The names of the variables that `header` (C++ source text) declares extern.
std::vector<std::string> extern_variables_in(const std::string& header);

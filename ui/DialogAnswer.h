#pragma once
// Scripted runs answer the file and folder dialogs themselves: while an
// answerer is installed, the dialogs are not shown and take its answer
// (a path, or nothing for Cancel), so a script is never held by a modal
// window.
#include <functional>
#include <optional>
#include <string>

enum class EDialogKind { OpenFile, Folder, About, SaveFile };

using DialogAnswerer = std::function<std::optional<std::string>(EDialogKind kind)>;

// Installs an answerer (empty: the dialogs are shown again).
void SetDialogAnswerer(DialogAnswerer answerer);
bool HasDialogAnswerer();
// The installed answerer's answer; call only while HasDialogAnswerer().
std::optional<std::string> AnswerDialog(EDialogKind kind);

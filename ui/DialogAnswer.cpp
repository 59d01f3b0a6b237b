#include "ui/DialogAnswer.h"

namespace {
DialogAnswerer& Answerer() {
    static DialogAnswerer answerer;
    return answerer;
}
}  // namespace

void SetDialogAnswerer(DialogAnswerer answerer) {
    Answerer() = std::move(answerer);
}

bool HasDialogAnswerer() {
    return bool(Answerer());
}

std::optional<std::string> AnswerDialog(EDialogKind kind) {
    return Answerer() ? Answerer()(kind) : std::nullopt;
}

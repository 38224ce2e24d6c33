// Exceptions whose message may quote caller text holding NUL bytes (names, paths, identifiers): what() ends
// at the first NUL, so they also keep the whole message for callers that can carry it (the Python module).
#pragma once

#include <exception>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

namespace tarq {

// The whole message beside the C-string form held by the standard exception; shared so that copying the
// exception cannot throw.
class WholeMessage {
public:
    explicit WholeMessage(std::string text) : text_(std::make_shared<const std::string>(std::move(text))) {}
    virtual ~WholeMessage() = default;
    const std::string& message() const noexcept { return *text_; }

private:
    std::shared_ptr<const std::string> text_;
};

template <class StdError>
class ErrorWithText : public StdError, public WholeMessage {
public:
    explicit ErrorWithText(const std::string& text) : StdError(text), WholeMessage(text) {}
};

using RuntimeError = ErrorWithText<std::runtime_error>;
using InvalidArgument = ErrorWithText<std::invalid_argument>;

// The whole message of e, NUL bytes included when e keeps them.
inline std::string message_of(const std::exception& e) {
    if (const auto* whole = dynamic_cast<const WholeMessage*>(&e)) return whole->message();
    return e.what();
}

}  // namespace tarq

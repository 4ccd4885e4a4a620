// What a client of the session lends the standalone host: where progress
// goes, whether the user asked to cancel, and where the plug-in's messages
// go. A command draws a bar on stderr and cancels on Ctrl-C; a script
// module reports to its own caller. Every hook may be left out: the host
// then shows nothing, never cancels, and answers the one question No.
#pragma once

#include <functional>
#include <string>

namespace dunsmere {

// The progress of one generation, as phases of the plug-in's title.
class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    // A generation begins: nothing is shown until its first phase.
    virtual void Start(const char* title) = 0;
    // The next phase begins at 0 %.
    virtual void Phase(const char* name) = 0;
    virtual void Update(int percent) = 0;
    virtual void End() = 0;
    virtual bool Active() const = 0;
    // The phase begun last; "" before the first.
    virtual const std::string& PhaseName() const = 0;
    // The run completed, or was cancelled where it stands.
    virtual void Complete() = 0;
    virtual void Cancelled() = 0;
    // A message is about to be shown.
    virtual void Interrupt() = 0;
};

// What a message box means, by the plug-in's convention: a refusal or
// failure, a completion or elapsed-time note, or the one Yes/No question.
enum class MessageKind { kNote, kRefusal, kQuestion };

struct HostHooks {
    ProgressSink* progress = nullptr;
    // Polled on the user-interface thread and by waits; true once the user
    // asked to cancel.
    std::function<bool()> cancelled;
    // TEXT has every line prefixed with the box's title ("Dunsmere: ...").
    // The answer counts for a question alone: true is Yes.
    std::function<bool(const std::string& text, MessageKind kind)> message;
};

}  // namespace dunsmere

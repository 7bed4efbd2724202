#pragma once
// Who may open the reporter's shared channels. Their names are visible to every process of the
// session and easy to guess, so each block is made with a descriptor of its own: owned by the
// user the process runs as, open to that user alone, and labelled with the process's integrity
// level so that a process of lower integrity can neither read nor write it.

#include <windows.h>

namespace pelloran::crashlog {

// The attributes to create a channel with, built once; null when the system could not say who
// the process runs as (a channel is then not made at all rather than made open to everybody).
// On a system without integrity levels the label is left out.
SECURITY_ATTRIBUTES* ChannelSecurityAttributes() noexcept;

}  // namespace pelloran::crashlog

#pragma once

// As a systemd service the program holds CAP_NET_BIND_SERVICE as an ambient capability, and an
// ambient capability passes on to every program started through exec; the inheritable set passes
// on too, and grants it to any program whose file asks for it. The programs Sentrel starts (the
// attack program, the sound player, the wallpaper tools) must start with none.
//
// Empties the calling thread's ambient and inheritable sets; the thread keeps what it holds itself,
// so the ports can still be bound. Capabilities belong to a thread and a child gets those of the
// thread that forks it, and Qt 6.4 runs no child modifier for detached starts: so call this on the
// thread that starts the child, just before it. Two system calls, and harmless to repeat. False
// when the sets could not be emptied: start nothing then.
[[nodiscard]] bool withholdCapabilitiesFromChildren();

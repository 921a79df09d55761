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
// when the sets could not be emptied: start nothing then. Where a sandbox refuses capset (the
// systemd unit) and the inheritable set holds CAP_NET_BIND_SERVICE alone, emptying the ambient set
// is enough: no child gains the capability but from a file that asks for it.
[[nodiscard]] bool withholdCapabilitiesFromChildren();

// A program that starts the watch helper itself may hold CAP_NET_RAW so that the helper's file
// capability counts (under NoNewPrivileges a program started gains nothing its starter does not
// hold); the systemd unit gives none, its watch runs in a unit of its own. Once the helper has its
// socket, the program needs none of it: call this right after starting the helper, and from then
// on every thread of the process holds CAP_NET_BIND_SERVICE at most (its ports are bound again
// after Options) and, in its permitted set only, CAP_NET_ADMIN where
// the service was given it for the firewall helper; nothing in the inheritable or ambient sets.
// Without CAP_NET_RAW no thread can open a packet socket. Capabilities belong to a thread, so the
// other threads are made to drop theirs by a signal each (as setuid does in the C library).
// Harmless without capabilities, and to repeat; where capset is refused, the inheritable set may
// keep CAP_NET_BIND_SERVICE, as above. False when some thread still holds more: the caller says so.
[[nodiscard]] bool keepOnlyBindCapability();

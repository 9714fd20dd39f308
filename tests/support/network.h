// A private network namespace for a test program: its own loopback, its own
// abstract Unix socket names (the client's single-instance guard), so that
// test programs running side by side, and other people's clients on the
// machine, cannot meet. Servers and clients the program starts afterwards
// share it with the program.
#pragma once

namespace qmtest {

// Enters a fresh network namespace with "lo" up. Call first thing in main(),
// before any thread starts (a namespace belongs to the thread that enters it,
// and to the threads and processes it starts later). False when the system
// does not allow it (no CAP_SYS_ADMIN): the program then shares the machine's
// network, with a line on standard error saying so.
bool EnterPrivateNetwork();
// Whether this program runs in a namespace of its own.
bool InPrivateNetwork();
// A default route over loopback, which makes the network count as available
// (to the desktop's network monitor), and its removal. Only in a private
// namespace; false elsewhere.
bool AddDefaultRoute();
bool RemoveDefaultRoute();

// For test programs that start the client (QM_TEST_CLIENT_LOCK names a lock
// file): without a namespace of their own they would meet each other's
// single-instance guard, so they take turns: this waits for the lock and
// holds it until the program ends. Does nothing in a private namespace.
void TakeTurnWithOtherClientTests();

}  // namespace qmtest

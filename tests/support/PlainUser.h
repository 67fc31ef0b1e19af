#pragma once
// Permission tests need a plain user: root reads and writes everything. CI runs as root, so
// such a test runs itself again, alone, as the user "nobody".

// Call first in a test that needs a plain user's rights:
//     if (rerunAsPlainUser()) return;
// As root it runs the current test in a child process as "nobody" (setpriv), records a
// failure when the child fails, and returns true. As any other user it returns false, and
// the test goes on in this process.
bool rerunAsPlainUser();

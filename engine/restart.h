#pragma once

// Enables the shutdown privilege and requests a forced restart; every failing step shows the
// restart-failure message and the sequence goes on.
void RestartComputer();

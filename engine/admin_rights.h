#pragma once

// Whether this process holds administrator rights as Windows decides them on its generation:
// from NT 6 on, an elevated token (User Account Control leaves an administrator's programs
// unelevated); before, membership of the Administrators group. A check that cannot be made
// counts as no rights.
bool HasAdministratorRights(bool isNt6);

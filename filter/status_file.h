// The status file "Minutrix.sts": how far the start-up came, and when.
#pragma once

// Replaces the file with `status` and the local time. False when the file could not be created.
bool WriteStatus(int status) noexcept;

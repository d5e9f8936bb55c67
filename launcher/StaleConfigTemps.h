#pragma once

#include <string>

// Removes what a crashed writer left of its rewrite of a launcher file: the
// temporaries that WriteConfigText names with TemporaryNameFor beside the
// file that `configPath` finally names (a link followed), whose writing
// process no longer runs. Only regular files of ours (owned by this user,
// carrying our tag) go; anything else with a similar name stays, and so does
// a temporary whose process id is alive, which may still be writing it.
void RemoveStaleConfigTemps(const std::string& configPath);

// The same for the user file and the alternate user file of the launcher
// (UserConfigPath and AlternateUserConfigPath), the only files ever
// rewritten. Called once at start-up, next to the recovery of interrupted
// runs. Never throws, never fails: what cannot be removed stays.
void RemoveStaleConfigTemps();

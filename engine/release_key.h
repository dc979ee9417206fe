#pragma once
// The publisher's release key built into this launcher (build setting FENWA_RELEASE_KEY):
// the X and Y of an ECDSA P-256 public key. Without one the launcher installs what the
// server lists, as it always has; with one, only releases signed with its private key.
//
// FENWA_RELEASE_FLOOR, the lowest release sequence this launcher accepts, comes with it.
//
// This unit holds nothing else, so that a launcher variant links its own copy, built with
// another key, in place of the library's.
#include <cstdint>
#include <string>

// 64 bytes, or empty when the launcher was built without a key.
std::string built_in_release_key();

// The build's FENWA_RELEASE_FLOOR; 0 when none was given.
uint64_t built_in_release_floor();

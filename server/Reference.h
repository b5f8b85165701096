#pragma once
// The reference of the JSON-RPC interface as text, written from the
// interface description (TypeLibrary.h) so that the two cannot disagree:
// every method with its params and result, the notifications, the block-list
// format, the error codes and the types. `playsrv --reference` prints it and
// the man page takes its sections from there (scripts/make-man.sh).
//
// The text is a run of sections, each beginning with a line "= TITLE";
// lines are at most about 78 columns.

#include <string>

#include <nlohmann/json.hpp>

namespace server {

// A member's params as the server reads them: {"Name": Type, ...} of its
// arguments ("value" for a write-only property); "" for none.
std::string ParamsText(const nlohmann::json& member);
// What the server answers: the arguments it writes back, a property's
// value, or null.
std::string ResultText(const nlohmann::json& member);

// `description`: what Describe answers.
std::string ReferenceText(const nlohmann::json& description);

}  // namespace server

// What a run of tenvora-master did, for the user: as text or as JSON.
#pragma once

#include <ostream>

#include "tools/tenvora_master/master_run.h"

void print_master_text(std::ostream& out, const MasterResult& result);
void print_master_json(std::ostream& out, const MasterResult& result);
// One line per warning: "tenvora-master: <frame>: warning <code>: <message>".
void print_master_warnings(std::ostream& err, const MasterResult& result);

#include "tools/tenvora_master/master_main.h"

#include <new>

#include "fits/tool_error.h"
#include "tools/tenvora_master/master_options.h"
#include "tools/tenvora_master/master_run.h"
#include "tools/tenvora_master/master_summary.h"

int master_main(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                bool err_is_terminal) {
  try {
    const MasterOptions o = parse_master_options(args);
    if (o.help) {
      out << master_help_text();
      return 0;
    }
    if (o.version) {
      out << "tenvora-master " TENVORA_VERSION "\n";
      return 0;
    }
    const MasterResult result = make_master(o, err, err_is_terminal);
    print_master_warnings(err, result);
    if (o.json)
      print_master_json(out, result);
    else
      print_master_text(out, result);
    return 0;
  } catch (const ToolError& e) {
    err << "tenvora-master: " << e.what() << "\n";
    return 2;
  } catch (const InternalError& e) {
    err << "tenvora-master: internal error: " << e.what() << "\n";
    return 1;
  } catch (const std::bad_alloc&) {
    err << "tenvora-master: out of memory\n";
    return 1;
  }
}

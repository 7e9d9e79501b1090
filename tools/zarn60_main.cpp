// zarn60: the reader from the command line. The subcommands live in cli/, one file each.
#include "cli/app.h"

int main(int argc, char** argv) {
    return cli::Main(argc, argv);
}

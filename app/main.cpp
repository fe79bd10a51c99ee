#include "app/cli.h"

int main(int argc, char** argv) { return kestran::kestranMain(argc, argv); }

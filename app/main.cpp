#include "app/driver.h"

int main(int argc, char** argv) { return oskavi::run(argc, argv); }

#include "app/Program.h"

int main() { return 0; }

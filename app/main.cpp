#include "app/BatchDriver.h"

int main(int argc, char** argv) { return runVellico(argc, argv); }

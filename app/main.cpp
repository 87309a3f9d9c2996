#include "app/echoprobe.h"

int main() { return echoprobeMain(); }

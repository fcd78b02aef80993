#include "bus/abus.hpp"

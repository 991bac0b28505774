#include "net/webget.h"

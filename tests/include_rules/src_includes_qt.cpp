// Application code may not use the toolkit: the runtime keeps Qt private.
#include <QWidget>

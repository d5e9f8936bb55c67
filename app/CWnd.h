#pragma once

// The base of the program's window controllers. It carries no data and no
// virtual operations of its own; the window itself belongs to the window
// layer.
class CWnd {};

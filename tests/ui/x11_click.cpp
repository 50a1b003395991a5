// Clicks a window of the X display in DISPLAY once with the left button, the way a tray
// does when the user clicks an embedded icon: a button press and release at (X, Y) inside
// the window, delivered to the client that made it (the smoke test has no window manager
// and no input device of its own to move).
//   x11_click WINDOW_ID [X Y]
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>
#include <initializer_list>

int main(int argc, char** argv) {
  if (argc != 2 && argc != 4) {
    std::fprintf(stderr, "usage: x11_click WINDOW_ID [X Y]\n");
    return 2;
  }
  Display* D = XOpenDisplay(nullptr);
  if (!D) return 1;
  const Window W = static_cast<Window>(std::strtoul(argv[1], nullptr, 0));
  XWindowAttributes A;
  if (!XGetWindowAttributes(D, W, &A)) return 1;
  const int X = argc == 4 ? std::atoi(argv[2]) : A.width / 2;
  const int Y = argc == 4 ? std::atoi(argv[3]) : A.height / 2;
  Window Child;
  int RootX = 0, RootY = 0;
  XTranslateCoordinates(D, W, A.root, X, Y, &RootX, &RootY, &Child);
  for (const int Type : {ButtonPress, ButtonRelease}) {
    XEvent E{};
    E.xbutton.type = Type;
    E.xbutton.display = D;
    E.xbutton.window = W;
    E.xbutton.root = A.root;
    E.xbutton.subwindow = None;
    E.xbutton.time = CurrentTime;
    E.xbutton.x = X;
    E.xbutton.y = Y;
    E.xbutton.x_root = RootX;
    E.xbutton.y_root = RootY;
    E.xbutton.state = Type == ButtonRelease ? Button1Mask : 0;
    E.xbutton.button = Button1;
    E.xbutton.same_screen = True;
    // An empty event mask sends the event to the window's own client.
    if (!XSendEvent(D, W, False, NoEventMask, &E)) return 1;
  }
  XFlush(D);
  XCloseDisplay(D);
  return 0;
}

// What a user would write instead: the viewer's frames from a freeglut
// program with an idle callback, in a window of the viewer's size.
#include "app/viewer_state.h"
#include "scene/scene.h"

#include <GL/freeglut.h>

namespace {

void display() {
    drawScene();
    glFlush();
    glutSwapBuffers();
}

void idle() { glutPostRedisplay(); }

void keyboard(unsigned char, int, int) { glutLeaveMainLoop(); }

}  // namespace

int main(int argc, char** argv) {
    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_RGBA | GLUT_DOUBLE | GLUT_DEPTH);
    int side = int(glutGet(GLUT_SCREEN_HEIGHT) * 0.8);
    glutInitWindowPosition(0, 0);
    glutInitWindowSize(side, side);
    glutCreateWindow("glut-loop");
    viewer.windowWidth = side;
    viewer.windowHeight = side;
    initializeScene();
    glutDisplayFunc(display);
    glutIdleFunc(idle);
    glutKeyboardFunc(keyboard);
    glutMainLoop();
    return 0;
}

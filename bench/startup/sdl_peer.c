/* The start-up peer: SDL's video started and one 640x480 window opened, then the end. */
#include <SDL.h>

int main(int argc, char **argv)
{
    (void)argc;
    (void)argv;
    if (SDL_Init(SDL_INIT_VIDEO) != 0) return 1;
    SDL_Window *w = SDL_CreateWindow("peer", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, 640, 480, 0);
    if (!w) return 1;
    SDL_DestroyWindow(w);
    SDL_Quit();
    return 0;
}

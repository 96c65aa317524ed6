// The smallest program there is: the benchmark's list item.
int main() {
    return 0;
}

/**
 * The first program: text, arithmetic and strings on the module.
 *
 * Compiled against the class library and linked by MorvaneDirect; what it
 * prints travels to the host as debug messages.
 */
public class Hello {
    static int factorial(int n) {
        return n <= 1 ? 1 : n * factorial(n - 1);
    }

    public static void main() {
        System.out.println("Hello from the Morvane module!");
        int a = 6;
        int b = 7;
        System.out.println(a + " * " + b + " = " + (a * b));
        // An int is 16 bits here: 7! fits, 8! would not.
        System.out.println("7! = " + factorial(7));
        String name = "Morvane";
        StringBuffer reversed = new StringBuffer();
        for (int i = name.length() - 1; i >= 0; i--) {
            reversed.append(name.charAt(i));
        }
        System.out.println(name + " backwards is " + reversed);
    }
}

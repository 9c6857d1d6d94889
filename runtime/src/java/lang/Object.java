package java.lang;

/**
 * Root of every class. The module has no identity hash and no runtime class
 * names, so the default toString() cannot name the object's class the way a
 * desktop JVM does; subclasses that want readable output override it.
 */
public class Object {

    public Object() {
    }

    public boolean equals(Object obj) {
        return this == obj;
    }

    public String toString() {
        return "java.lang.Object";
    }
}
